// The subtitle dictionaries of the unit's animation, held by the lesson
// manager: the UK and the ES list, and the current one (none or one of
// them). The subtitles button cycles the current one; the page reads it on
// another thread, so the owner keeps it atomic and changes it only through
// CambiarDiccionarioActual.
#pragma once

class TListaStrings;

class ISubtitulosAnim {
 public:
  virtual ~ISubtitulosAnim() = default;

  virtual const TListaStrings* DiccionarioActual() const = 0;
  virtual const TListaStrings* DiccionarioUK() const = 0;
  virtual const TListaStrings* DiccionarioES() const = 0;
  // Makes nuevo the current dictionary when the current one is still
  // actual; false (nothing changed) when another thread changed it first.
  virtual bool CambiarDiccionarioActual(const TListaStrings* actual,
                                        const TListaStrings* nuevo) = 0;
};
