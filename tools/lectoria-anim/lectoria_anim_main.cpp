// lectoria-anim: loads an animation folder as the player does and checks
// it, lists what its frames show, or renders its drawing area.
//
//   lectoria-anim [--local-root DIR] [--local LETTERS] [--mount L=STORE]... COMMAND
//   COMMAND: check FOLDER
//            frames FOLDER --at MS[,MS...] [--from FRAME]
//            render FOLDER --at MS [--from FRAME] --out FILE.png
//
// FOLDER is a virtual folder (U:\ANIM) or a local folder, read as a folder
// store. The sound is a fake that starts at once and moves 50 ms a tick.
#include <array>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "base/OSAL.h"
#include "base/TGestorBMP.h"
#include "base/TGestorGDI.h"
#include "base/TListaStrings.h"
#include "ehdd/TEHDDClient.h"
#include "media/FakeAudioAnim.h"
#include "media/TGestorAnim.h"
#include "platform/MessageBox.h"
#include "platform/gfx/Surface.h"
#include "platform/ui/Headless.h"
#include "tools/common/StoreOptions.h"

namespace {

constexpr uint32_t kAvanceTicMs = 50;
constexpr uint32_t kEsperaCargaMs = 120000;
constexpr int kAnchoVentana = 687;
constexpr int kAltoVentana = 534;

void Linea(const std::string& texto) {
  std::fprintf(stderr, "lectoria-anim: %s\n", texto.c_str());
}

int Usage(const std::string& motivo) {
  if (!motivo.empty()) Linea(motivo);
  Linea("usage: lectoria-anim [--local-root DIR] [--local LETTERS] [--mount L=STORE]... COMMAND");
  Linea("commands: check FOLDER");
  Linea("          frames FOLDER --at MS[,MS...] [--from FRAME]");
  Linea("          render FOLDER --at MS [--from FRAME] --out FILE.png");
  return 2;
}

int Fail(const std::string& texto) {
  Linea(texto);
  return 1;
}

bool Numero(const std::string& texto, uint64_t& valor) {
  if (texto.empty() || texto.size() > 10) return false;
  valor = 0;
  for (char c : texto) {
    if (c < '0' || c > '9') return false;
    valor = valor * 10 + static_cast<uint64_t>(c - '0');
  }
  return true;
}

struct Argumentos {
  std::string comando;
  std::string carpeta;
  std::vector<uint64_t> tiempos;
  bool hay_tiempos = false;
  uint64_t desde = 0;
  std::string salida;
};

// The command's own arguments; an empty text when they are right.
std::string LeerArgumentos(int argc, char** argv, int i, Argumentos& a) {
  if (i >= argc) return "no command";
  a.comando = argv[i++];
  if (a.comando != "check" && a.comando != "frames" && a.comando != "render") {
    return "unknown command " + a.comando;
  }
  if (i >= argc) return "no FOLDER";
  a.carpeta = argv[i++];
  bool hay_desde = false;
  bool hay_salida = false;
  while (i < argc) {
    const std::string opcion = argv[i++];
    const bool conocida = (opcion == "--at" || opcion == "--from") && a.comando != "check";
    if (!conocida && !(opcion == "--out" && a.comando == "render")) {
      return "unexpected argument " + opcion;
    }
    if (i >= argc) return opcion + " needs a value";
    const std::string valor = argv[i++];
    if (opcion == "--at") {
      if (a.hay_tiempos) return "--at given twice";
      a.hay_tiempos = true;
      size_t inicio = 0;
      for (;;) {
        const size_t coma = valor.find(',', inicio);
        uint64_t ms = 0;
        const std::string trozo =
            valor.substr(inicio, coma == std::string::npos ? coma : coma - inicio);
        if (!Numero(trozo, ms) || ms > 0xFFFFFFFFu) return "bad --at " + valor;
        a.tiempos.push_back(ms);
        if (coma == std::string::npos) break;
        inicio = coma + 1;
      }
    } else if (opcion == "--from") {
      if (hay_desde) return "--from given twice";
      hay_desde = true;
      if (!Numero(valor, a.desde)) return "bad --from " + valor;
    } else {
      if (hay_salida) return "--out given twice";
      hay_salida = true;
      a.salida = valor;
    }
  }
  if (a.comando != "check" && !a.hay_tiempos) return a.comando + " needs --at";
  if (a.comando == "render" && a.tiempos.size() != 1) return "render takes one time";
  if (a.comando == "render" && a.salida.empty()) return "render needs --out";
  return "";
}

std::string Refusal(const TGestorAnim& anim) {
  const ErrorAnim& error = anim.Error();
  if (error.fichero == "SCORE.VM") {
    switch (error.score) {
      case ErrorAnim::kScoreNoAbre:
        return "SCORE.VM: cannot be opened";
      case ErrorAnim::kScoreCorto:
        return "SCORE.VM: too short";
      case ErrorAnim::kScoreVersion:
        return "SCORE.VM: version not supported";
      default:
        return "SCORE.VM: more than 2030 frames";
    }
  }
  if (error.fichero.empty()) return "the animation cannot be loaded";
  if (error.linea == 0) return error.fichero + ": " + error.texto;
  return error.fichero + ":" + std::to_string(error.linea) + ": " + error.texto;
}

const char* Tipo(uint8_t tipo) {
  static const char* const kTipos[] = {"?", "PL", "PM", "PC", "PCC", "PE"};
  return tipo <= 5 ? kTipos[tipo] : "?";
}

// What the player draws, read from the description and the score as it
// reads them: the background of a frame (one it loads, whose picture is in
// the table) and the sprite of a cast (one listed under such a background,
// whose pictures are in the table).
uint8_t FondoDibujado(const TGestorAnim& anim, uint16_t frame) {
  const uint8_t k = anim.Pista(0, frame);
  if (k < 1 || k > anim.NumFondos() || anim.Fondo(k).prioridad > 1) return 0;
  const uint16_t imagen = anim.Fondo(k).imagen.load();
  return imagen != 0 && imagen < TGestorAnim::kEntradasImagen ? k : 0;
}

bool CastListado(const TGestorAnim& anim, uint8_t c) {
  for (uint8_t k = 1; k <= anim.NumFondos(); ++k) {
    const FondoAnim& fondo = anim.Fondo(k);
    if (fondo.prioridad > 1) continue;
    for (uint8_t i = 0; i < fondo.num_casts && i < 13; ++i) {
      if (fondo.casts[i] == c) return true;
    }
  }
  return false;
}

uint8_t SpriteDibujado(const TGestorAnim& anim, uint8_t c, uint16_t frame) {
  if (c < TGestorAnim::kPrimerCast || c > anim.NumCasts() + 1 || !CastListado(anim, c)) return 0;
  const CastAnim& cast = anim.Cast(c);
  const uint8_t s = anim.Pista(static_cast<uint8_t>(c - 1), frame);
  if (s < 1 || s > cast.num_sprites || cast.cargado.load() == 0) return 0;
  const uint32_t indice = cast.primera_imagen.load() + s - 1u;
  return indice != 0 && indice < TGestorAnim::kEntradasImagen ? s : 0;
}

// The casts on screen: drawn after the last background drawn. Followed frame
// by frame as the player shows them; the first frame of a play that starts
// inside a scene comes after the scene is restored (its background, then
// each cast's last sprite since it, for the casts the frame leaves alone).
class EnPantalla {
 public:
  explicit EnPantalla(const TGestorAnim& anim) : anim_(anim) {}

  void Empezar() {
    primero_ = true;
    visibles_.fill(false);
  }

  void FrameMostrado(uint16_t frame) {
    if (primero_) {
      primero_ = false;
      Restaurar(frame);
    }
    if (FondoDibujado(anim_, frame) != 0) visibles_.fill(false);
    for (uint8_t c = TGestorAnim::kPrimerCast; c <= anim_.NumCasts() + 1; ++c) {
      if (SpriteDibujado(anim_, c, frame) != 0) visibles_[c] = true;
    }
  }

  bool Visible(uint8_t c) const { return c <= TGestorAnim::kUltimoCast && visibles_[c]; }

 private:
  void Restaurar(uint16_t frame) {
    if (FondoDibujado(anim_, frame) != 0) return;
    int desde = static_cast<int>(frame) - 1;
    while (desde >= 0 && FondoDibujado(anim_, static_cast<uint16_t>(desde)) == 0) --desde;
    if (desde < 0) return;
    visibles_.fill(false);
    for (uint8_t c = TGestorAnim::kPrimerCast; c <= anim_.NumCasts() + 1; ++c) {
      if (SpriteDibujado(anim_, c, frame) != 0) continue;
      for (int g = static_cast<int>(frame) - 1; g >= desde; --g) {
        if (SpriteDibujado(anim_, c, static_cast<uint16_t>(g)) != 0) {
          visibles_[c] = true;
          break;
        }
      }
    }
  }

  const TGestorAnim& anim_;
  bool primero_ = true;
  std::array<bool, TGestorAnim::kUltimoCast + 1> visibles_{};
};

// One engine set-up over the stores, with a headless control window.
struct Motor {
  TEHDDClient cliente;
  OSAL osal;
  platform::ui::HeadlessControlSite ventana{kAnchoVentana, kAltoVentana};
  TGestorGDI gdi;
  TGestorBMP bmp{&osal, &gdi, &cliente};
  FakeAudioAnim audio;
  TGestorAnim anim;
  EnPantalla pantalla{anim};
  std::string carpeta;

  Motor() {
    SetUnitControlWindow(&ventana);
    gdi.SetOSAL(&osal);
    anim.SetOSAL(&osal);
    anim.SetGestorGDI(&gdi);
    anim.SetEHDDClient(&cliente);
    anim.SetGestorBMP(&bmp);
    anim.SetAudio(&audio);
    anim.SetPintarBarraAnim([this](uint16_t frame, uint16_t) { pantalla.FrameMostrado(frame); });
  }
  ~Motor() { SetUnitControlWindow(nullptr); }
};

// The pictures the loader would read that cannot be drawn, each once.
std::vector<std::string> ProblemasImagenes(Motor& motor) {
  std::vector<std::string> problemas;
  std::set<std::string> vistas;
  for (const ImagenPlan& imagen : motor.anim.PlanDeCarga()) {
    if (!vistas.insert(imagen.nombre).second) continue;
    const std::string path = motor.carpeta + "\\" + imagen.nombre;
    TFicheroEHDD* fichero = motor.cliente.Abrir(path.c_str(), 0);
    if (fichero == nullptr) {
      problemas.push_back(imagen.nombre + ": missing");
      continue;
    }
    motor.cliente.Cerrar(fichero);
    uint32_t ancho = 0;
    uint32_t alto = 0;
    uint8_t* rgb = motor.bmp.LeerPNGToMemoryRGB(path.c_str(), &ancho, &alto);
    if (rgb == nullptr) {
      problemas.push_back(imagen.nombre + ": cannot be decoded");
      continue;
    }
    OSAL::Free(rgb);
    if (ancho != imagen.ancho || alto != imagen.alto) {
      problemas.push_back(imagen.nombre + ": " + std::to_string(ancho) + "x" +
                          std::to_string(alto) + ", expected " + std::to_string(imagen.ancho) +
                          "x" + std::to_string(imagen.alto));
    }
  }
  return problemas;
}

std::vector<std::string> ProblemasScore(const TGestorAnim& anim) {
  std::vector<std::string> problemas;
  const uint8_t casts = anim.NumCasts();
  for (uint16_t f = 0; f < anim.NumFrames(); ++f) {
    const std::string frame = "SCORE.VM: frame " + std::to_string(f) + ": ";
    const uint8_t k = anim.Pista(0, f);
    if (k > anim.NumFondos()) {
      problemas.push_back(frame + "background " + std::to_string(k) + " is not defined");
    }
    for (uint8_t t = 1; t <= casts; ++t) {
      const uint8_t s = anim.Pista(t, f);
      const uint8_t c = static_cast<uint8_t>(t + 1);
      if (s > anim.Cast(c).num_sprites) {
        problemas.push_back(frame + "cast " + std::to_string(c) + " has no sprite " +
                            std::to_string(s));
      }
    }
  }
  return problemas;
}

std::vector<std::string> ProblemasJumps(Motor& motor) {
  std::vector<std::string> problemas;
  TListaStrings lista(&motor.osal, &motor.cliente);
  if (lista.CargarFichero((motor.carpeta + "\\JUMPS.TXT").c_str()) != 0) return problemas;
  uint32_t guardados = 0;
  bool hay_anterior = false;
  uint16_t anterior = 0;
  for (uint16_t i = 0; i < lista.Count(); ++i) {
    const std::string linea = lista.Item(i);
    const std::string donde = "JUMPS.TXT:" + std::to_string(i + 1) + ": ";
    if (linea.find_first_not_of(" \t") == std::string::npos) continue;
    const bool digitos = linea.find_first_not_of("0123456789") == std::string::npos;
    uint16_t valor = 0;
    const bool guardado = TGestorAnim::ValorJump(linea.c_str(), valor);
    if (!digitos) {
      problemas.push_back(donde + "not a number");
    } else if (!guardado) {
      problemas.push_back(donde + "out of range");
    }
    if (!guardado) continue;
    if (++guardados > TGestorAnim::kMaxJumps) {
      problemas.push_back(donde + "more than 300 jumps");
      break;
    }
    if (digitos && hay_anterior && valor < anterior)
      problemas.push_back(donde + "below the jump before it");
    hay_anterior = true;
    anterior = valor;
  }
  return problemas;
}

int Check(Motor& motor) {
  const TGestorAnim& anim = motor.anim;
  std::printf("size %dx%d\n", anim.AnchoFondo(), anim.AltoFondo());
  std::printf("backgrounds %u\n", unsigned{anim.NumFondos()});
  for (uint8_t k = 1; k <= anim.NumFondos(); ++k) {
    const FondoAnim& fondo = anim.Fondo(k);
    std::string casts;
    for (uint8_t i = 0; i < fondo.num_casts; ++i) {
      casts += (i == 0 ? "" : ",") + std::to_string(fondo.casts[i]);
    }
    std::printf("background %u %s priority %u casts %s\n", unsigned{k}, Tipo(fondo.tipo),
                unsigned{fondo.prioridad}, casts.empty() ? "none" : casts.c_str());
  }
  std::printf("casts %u\n", unsigned{anim.NumCasts()});
  for (uint8_t c = TGestorAnim::kPrimerCast; c <= anim.NumCasts() + 1; ++c) {
    const CastAnim& cast = anim.Cast(c);
    std::printf("cast %u at %d,%d size %dx%d sprites %u picture %s\n", unsigned{c}, cast.x, cast.y,
                cast.ancho, cast.alto, unsigned{cast.num_sprites},
                TGestorAnim::NombreCast(cast.id_fondo, c, cast.num_sprites).c_str());
  }
  const uint16_t frames = anim.NumFrames();
  uint32_t entradas = 0;
  std::set<uint16_t> secciones;
  for (uint16_t f = 0; f < frames; ++f) {
    for (uint8_t t = 0; t <= anim.NumCasts(); ++t) entradas += anim.Pista(t, f) != 0;
    if (anim.Seccion(f) != 0) secciones.insert(anim.Seccion(f));
  }
  std::printf("score %s frames %u length %u ms entries %u sections %zu\n",
              anim.VersionScore().c_str(), unsigned{frames}, frames * TGestorAnim::kMsPorFrame,
              entradas, secciones.size());
  std::printf("jumps %u:", unsigned{anim.NumJumps()});
  for (uint16_t i = 0; i < anim.NumJumps(); ++i) std::printf(" %u", unsigned{anim.Jump(i)});
  std::printf("\nimages %u\n", anim.ContarImagenes());
  std::fflush(stdout);

  std::vector<std::string> problemas = ProblemasScore(anim);
  for (const std::string& p : ProblemasJumps(motor)) problemas.push_back(p);
  for (const std::string& p : ProblemasImagenes(motor)) problemas.push_back(p);
  TFicheroEHDD* dialogo = motor.cliente.Abrir((motor.carpeta + "\\DIALOGO.OGG").c_str(), 0);
  if (dialogo == nullptr) {
    problemas.push_back("DIALOGO.OGG: missing");
  } else {
    motor.cliente.Cerrar(dialogo);
  }
  for (const std::string& p : problemas) Linea(p);
  return problemas.empty() ? 0 : 1;
}

// Plays from the frame until the sound reaches ms or the player stops.
void Tocar(Motor& motor, uint16_t desde, uint64_t ms) {
  motor.pantalla.Empezar();
  motor.anim.PlayAnim(desde);
  // Far more ticks than the longest score needs.
  const uint64_t maximo =
      (uint64_t{TGestorAnim::kMaxFrames} + 2) * (TGestorAnim::kMsPorFrame / kAvanceTicMs) +
      TGestorAnim::kTicksSinAudio;
  for (uint64_t tic = 0; tic < maximo; ++tic) {
    motor.anim.TimerTicAnim();
    if (motor.anim.Parada()) break;
    motor.audio.Tic(kAvanceTicMs);
    if (motor.audio.PosicionAudio() > ms) break;
  }
}

// The checks frames and render share before playing; an empty text when
// the times can be played.
std::string ComprobarTiempos(const TGestorAnim& anim, const Argumentos& a) {
  const uint16_t frames = anim.NumFrames();
  if (frames > 0 && a.desde >= frames) {
    return "--from " + std::to_string(a.desde) + ": the score has " + std::to_string(frames) +
           " frames";
  }
  for (uint64_t ms : a.tiempos) {
    if (ms < a.desde * TGestorAnim::kMsPorFrame) {
      return "--at " + std::to_string(ms) + ": before frame " + std::to_string(a.desde) + " (" +
             std::to_string(a.desde * TGestorAnim::kMsPorFrame) + " ms)";
    }
  }
  return "";
}

int Frames(Motor& motor, const Argumentos& a) {
  TGestorAnim& anim = motor.anim;
  if (!anim.EsperarCarga(kEsperaCargaMs)) return Fail("the animation did not finish loading");
  const std::string fallo = ComprobarTiempos(anim, a);
  if (!fallo.empty()) return Fail(fallo);
  const uint16_t frames = anim.NumFrames();
  for (uint64_t ms : a.tiempos) {
    const auto tiempo = static_cast<unsigned long long>(ms);
    if (frames == 0) {
      std::printf("%llu frame none\n", tiempo);
      continue;
    }
    Tocar(motor, static_cast<uint16_t>(a.desde), ms);
    const uint64_t frame = std::min<uint64_t>(ms / TGestorAnim::kMsPorFrame, frames - 1u);
    const uint8_t fondo = anim.UltimoFondoDibujado();
    std::printf("%llu frame %u section %u background %s\n", tiempo, static_cast<unsigned>(frame),
                unsigned{anim.Seccion(static_cast<uint16_t>(frame))},
                fondo == 0 ? "none" : std::to_string(fondo).c_str());
    // Only what is on screen: a cast drawn before the last background is
    // covered by it.
    for (uint8_t c = TGestorAnim::kPrimerCast; c <= anim.NumCasts() + 1; ++c) {
      const uint8_t sprite = anim.UltimoSpriteDibujado(c);
      if (sprite == 0 || !motor.pantalla.Visible(c)) continue;
      std::printf("%llu cast %u sprite %u at %d,%d\n", tiempo, unsigned{c}, unsigned{sprite},
                  anim.Cast(c).x, anim.Cast(c).y);
    }
  }
  return std::fflush(stdout) == 0 ? 0 : Fail("cannot write to standard output");
}

int Render(Motor& motor, const Argumentos& a) {
  const std::vector<std::string> problemas = ProblemasImagenes(motor);
  if (!problemas.empty()) {
    for (const std::string& p : problemas) Linea(p);
    return 1;
  }
  TGestorAnim& anim = motor.anim;
  if (!anim.EsperarCarga(kEsperaCargaMs)) return Fail("the animation did not finish loading");
  const std::string fallo = ComprobarTiempos(anim, a);
  if (!fallo.empty()) return Fail(fallo);
  if (anim.NumFrames() > 0) Tocar(motor, static_cast<uint16_t>(a.desde), a.tiempos[0]);
  std::string error;
  if (!platform::gfx::WritePng(motor.gdi.Superficie(anim.Area()), a.salida, &error)) {
    return Fail(a.salida + ": " + (error.empty() ? "cannot be written" : error));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int i = 1;
  tools::StoreOptions opciones;
  std::string error;
  if (!tools::ParseStoreOptions(argc, argv, i, opciones, &error)) return Usage(error);
  Argumentos a;
  error = LeerArgumentos(argc, argv, i, a);
  if (!error.empty()) return Usage(error);

  // The engine's boxes stay off the output: each refusal is told once below.
  platform::SetMessageSink([](const std::string&, const std::string&, unsigned type) {
    return platform::DefaultButton(type);
  });
  try {
    Motor motor;
    tools::ApplyStoreOptions(motor.cliente, opciones);
    motor.carpeta = tools::EnginePathForFolder(motor.cliente, opciones, a.carpeta);
    if (motor.carpeta.empty()) return Fail(a.carpeta + ": no free drive letter to mount it on");
    motor.anim.Iniciar();
    if (motor.anim.CargarAnim(motor.carpeta.c_str()) != 0) return Fail(Refusal(motor.anim));
    if (a.comando == "check") return Check(motor);
    if (a.comando == "frames") return Frames(motor, a);
    return Render(motor, a);
  } catch (const std::string& texto) {
    return Fail(texto);
  }
}
