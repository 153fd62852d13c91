// A label for the fields the refresh rewrites every second (elapsed times,
// marker counts, the integral). It paints its one line of text from glyphs
// and advances looked up once per font, instead of shaping and laying the
// text out again on every paint, which is most of what a label costs.
//
// The lookup is trusted only where it was shown to give QLabel's own
// pixels: per font, the glyphs and advances must match a real layout of
// every pair of the characters it serves, and per field height a text drawn
// both ways must come out pixel for pixel the same. Any other text, font or
// label setting is painted by QLabel as usual.
#pragma once

#include <QLabel>

#include <memory>

class TTextLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

    // Whether the current text would be painted from the looked-up glyphs.
    bool PaintsFromGlyphs();

    struct GlyphTable;

protected:
    void paintEvent(QPaintEvent *e) override;
    void changeEvent(QEvent *e) override;
    // The text's advance in the label's font as QFontMetrics gives it, or
    // -1 when the looked-up glyphs cannot tell.
    int TextAdvance(const QString &text);

private:
    // The table for the current font, or null when none can serve.
    GlyphTable *Table();
    bool DrawableFromGlyphs(const QString &text);

    std::shared_ptr<GlyphTable> table_;
};
