// The form's own pictures (top bar, tab buttons, logo, level buttons and
// badges, section menu, page buttons, footers, map overlay and progress-bar
// pieces), drawn at start-up. Packs may replace some of them.
#pragma once

#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QString>

namespace qorFormPictures {

QPixmap TopBar(int w, int h);
QPixmap Logo(int w, int h);
QPixmap TabButton(int w, int h);
QPixmap TabIndicator(int w, int h);
QPixmap LevelButton(int w, int h, QColor colour, const QString& name);
QPixmap LevelBadge(int w, int h, QColor colour, const QString& name);
QPixmap MenuBar(int w, int h, QColor colour, int sections, int section_height);
QPixmap SectionButton(int w, int h, int number, const QString& name);
QPixmap PageButton(int w, int h, bool next);
QPixmap CloseButton(int w, int h);
QPixmap FollowUpButton(int w, int h);
QPixmap PanelTitle(int w, int h, const QString& title);
QPixmap Footer(int w, int h, const QString& title, const QString& text);
// The page keys' tip, one key a line.
QPixmap KeysTip(int w, int h, const QString& first, const QString& second);
QPixmap RoundButton(int w, int h);
// Black is its transparent colour.
QImage NotInstalledOverlay(int w, int h, const QString& text);
QImage ProgressFilled(int w, int h);
QImage ProgressEmpty(int w, int h);

// Black or white, whichever reads better on the colour (the higher contrast
// of the two by relative luminance).
QColor TextColourOn(QColor background);
// The contrast ratio of two colours, 1 to 21.
double ContrastRatio(QColor a, QColor b);
// A picture that is larger than its place, scaled down to fit inside it with
// its proportions kept; a picture that fits is returned as it is.
QImage FitInside(const QImage& picture, QSize place);

}  // namespace qorFormPictures
