#include "ui/graph/TextLabel.h"

#include <QGlyphRun>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QRawFont>
#include <QStyle>
#include <QTextLayout>
#include <QVarLengthArray>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

namespace {
// What the fields show: digits, signs, the separators of numbers and times,
// and the letters of AM and PM.
const char16_t kChars[] = u"0123456789 -+:.,/APMapm";

// Text positions in 1/64 pixel, as Qt's layout keeps them: a real is cut
// toward zero.
qreal Fixed(qreal v) { return static_cast<qreal>(static_cast<int>(v * 64)) / 64; }
} // namespace

struct TTextLabel::GlyphTable {
    static constexpr int N = sizeof(kChars) / sizeof(kChars[0]) - 1;
    QFont font;
    QString style;
    int dpi = 0;
    bool usable = false;
    QRawFont raw;
    int8_t index[128]; // of each character served, else -1
    quint32 glyph[N] = {};
    qreal alone[N] = {};   // advance of a character that ends the text
    qreal pair[N][N] = {}; // advance of a character followed by another: kerning
    qreal ascent = 0, descent = 0;
    std::vector<std::pair<int, bool>> proofs; // field height, and whether the pixels matched

    GlyphTable() { std::fill(std::begin(index), std::end(index), int8_t(-1)); }

    bool Serves(const QString &text) const
    {
        for (QChar c : text)
            if (c.unicode() >= 128 || index[c.unicode()] < 0)
                return false;
        return true;
    }

    qreal Advance(const QString &text, qsizetype i) const
    {
        const int a = index[text.at(i).unicode()];
        return i + 1 < text.size() ? pair[a][index[text.at(i + 1).unicode()]] : alone[a];
    }

    qreal Width(const QString &text) const
    {
        qreal w = 0;
        for (qsizetype i = 0; i < text.size(); ++i)
            w += Advance(text, i);
        return w;
    }

    // Draws text in r as QPainter::drawText(r, AlignLeft | AlignVCenter |
    // TextForceLeftToRight, text) lays out one line: the line's top at half
    // the spare height, the baseline its ascent lower, the text clipped to r
    // when it reaches out of it.
    void Draw(QPainter &p, const QRect &r, const QString &text) const
    {
        const qreal height = ascent + descent;
        const qreal yoff = (r.height() - height) / 2;
        const qreal baseline = Fixed(r.y() + yoff) + ascent;
        QVarLengthArray<quint32, 32> glyphs(text.size());
        QVarLengthArray<QPointF, 32> positions(text.size());
        qreal x = r.x();
        for (qsizetype i = 0; i < text.size(); ++i) {
            glyphs[i] = glyph[index[text.at(i).unicode()]];
            positions[i] = QPointF(x, baseline);
            x += Advance(text, i);
        }
        const QRectF bounds(r.x(), r.y() + yoff, x - r.x(), height);
        const bool clip = !QRectF(r).contains(bounds);
        if (clip) {
            p.save();
            p.setClipRect(r, Qt::IntersectClip);
        }
        QGlyphRun run;
        run.setRawFont(raw);
        run.setRawData(glyphs.constData(), positions.constData(), static_cast<int>(text.size()));
        p.drawGlyphRun(QPointF(0, 0), run);
        if (clip)
            p.restore();
    }

    // Lays a text out as QPainter::drawText does one line. False when it
    // takes glyphs of more than one font, or decorations.
    bool Layout(const QString &text, QList<quint32> &ids, QList<QPointF> &at, qreal &width)
    {
        QTextLayout layout(text, font);
        QTextOption option;
        option.setTextDirection(Qt::LeftToRight);
        option.setAlignment(Qt::AlignLeft);
        layout.setTextOption(option);
        layout.beginLayout();
        QTextLine line = layout.createLine();
        if (!line.isValid())
            return false;
        line.setLineWidth(0x01000000);
        layout.endLayout();
        if (line.textLength() != text.size())
            return false;
        ids.clear();
        at.clear();
        const QList<QGlyphRun> runs = layout.glyphRuns();
        for (const QGlyphRun &run : runs) {
            if (!raw.isValid())
                raw = run.rawFont();
            else if (!(run.rawFont() == raw))
                return false;
            if (run.overline() || run.underline() || run.strikeOut() || run.isRightToLeft())
                return false;
            ids += run.glyphIndexes();
            at += run.positions();
        }
        ascent = line.ascent();
        descent = line.descent();
        width = line.naturalTextWidth();
        for (const QPointF &p : at)
            if (p.y() != ascent)
                return false;
        return ids.size() == text.size() && raw.isValid();
    }

    // Looks the glyphs up from a layout of every ordered pair of the
    // characters, and of each alone: each character must always take the
    // same glyph, and each pair the same advance, all from one font on one
    // baseline.
    void Build()
    {
        if (font.underline() || font.overline() || font.strikeOut())
            return;
        const QString chars = QString::fromUtf16(kChars);
        for (int i = 0; i < N; ++i)
            index[chars.at(i).unicode()] = static_cast<int8_t>(i);
        QList<quint32> ids;
        QList<QPointF> at;
        qreal width = 0;
        for (int i = 0; i < N; ++i) {
            if (!Layout(chars.mid(i, 1), ids, at, width) || at[0].x() != 0)
                return;
            glyph[i] = ids[0];
            alone[i] = width;
        }
        QString sample;
        for (QChar a : chars)
            for (QChar b : chars)
                sample += QString(a) + b;
        bool seen[N][N] = {};
        if (!Layout(sample, ids, at, width) || at[0].x() != 0)
            return;
        for (qsizetype i = 0; i < sample.size(); ++i) {
            const int a = index[sample.at(i).unicode()];
            if (ids[i] != glyph[a])
                return;
            if (i + 1 == sample.size())
                break;
            const int b = index[sample.at(i + 1).unicode()];
            const qreal advance = at[i + 1].x() - at[i].x();
            if (seen[a][b] && pair[a][b] != advance)
                return;
            seen[a][b] = true;
            pair[a][b] = advance;
        }
        usable = Width(sample) == width;
    }

    // Whether a field of this height shows the glyphs as QLabel would: one
    // text of every character, drawn both ways into images of both kinds a
    // window may paint on, must give the same pixels.
    bool Proven(int height, QStyle *s)
    {
        for (const auto &[h, same] : proofs)
            if (h == height)
                return same;
        const QString text = QString::fromUtf16(kChars);
        const QRect r(3, 2, static_cast<int>(std::ceil(Width(text))) + 2, height);
        QPalette palette;
        palette.setColor(QPalette::WindowText, Qt::black);
        bool same = true;
        for (QImage::Format format : {QImage::Format_ARGB32_Premultiplied, QImage::Format_RGB32}) {
            QImage a(r.width() + 6, height + 4, format), b(a.size(), format);
            a.fill(Qt::white);
            b.fill(Qt::white);
            {
                QPainter pa(&a);
                pa.setFont(font);
                s->drawItemText(&pa, r, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextForceLeftToRight, palette, true,
                                text, QPalette::WindowText);
                QPainter pb(&b);
                pb.setFont(font);
                pb.setPen(Qt::black);
                Draw(pb, r, text);
            }
            same = same && a == b;
        }
        proofs.emplace_back(height, same);
        return same;
    }
};

namespace {
// One table per font, style and resolution, shared by every label.
std::vector<std::shared_ptr<TTextLabel::GlyphTable>> &Tables()
{
    static std::vector<std::shared_ptr<TTextLabel::GlyphTable>> tables;
    return tables;
}
} // namespace

TTextLabel::GlyphTable *TTextLabel::Table()
{
    const int dpi = logicalDpiY();
    if (table_ && table_->dpi == dpi)
        return table_->usable ? table_.get() : nullptr;
    const QFont f(font(), this);
    const QString styleName = style()->name();
    table_.reset();
    for (const auto &t : Tables())
        if (t->dpi == dpi && t->style == styleName && t->font == f) {
            table_ = t;
            break;
        }
    if (!table_) {
        table_ = std::make_shared<GlyphTable>();
        table_->font = f;
        table_->style = styleName;
        table_->dpi = dpi;
        table_->Build();
        Tables().push_back(table_);
    }
    return table_->usable ? table_.get() : nullptr;
}

bool TTextLabel::DrawableFromGlyphs(const QString &text)
{
    // QLabel draws a plain, enabled, left-aligned, unwrapped line in its
    // contents rectangle, with no frame, margin or indent, through the
    // style's drawItemText: the case the table was proved on.
    if (text.isEmpty() || !isEnabled() || wordWrap() || alignment() != (Qt::AlignLeft | Qt::AlignVCenter) ||
        frameWidth() != 0 ||
        margin() != 0 || indent() > 0 || textFormat() == Qt::RichText || focusPolicy() != Qt::NoFocus ||
        (textInteractionFlags() & (Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard)) ||
        devicePixelRatioF() != 1.0)
        return false;
    GlyphTable *t = Table();
    return t && t->Serves(text) && t->Proven(contentsRect().height(), style());
}

bool TTextLabel::PaintsFromGlyphs() { return DrawableFromGlyphs(text()); }

int TTextLabel::TextAdvance(const QString &text)
{
    GlyphTable *t = Table();
    if (!t || !t->Serves(text))
        return -1;
    return static_cast<int>(std::floor(t->Width(text) + 0.5));
}

void TTextLabel::paintEvent(QPaintEvent *e)
{
    const QString t = text();
    if (!DrawableFromGlyphs(t)) {
        QLabel::paintEvent(e);
        return;
    }
    QPainter p(this);
    const QTransform &m = p.deviceTransform();
    if (m.type() > QTransform::TxTranslate || m.dx() != std::floor(m.dx()) || m.dy() != std::floor(m.dy())) {
        p.end();
        QLabel::paintEvent(e);
        return;
    }
    p.setPen(QPen(palette().brush(foregroundRole()), 0));
    table_->Draw(p, contentsRect(), t);
}

void TTextLabel::changeEvent(QEvent *e)
{
    if (e->type() == QEvent::FontChange || e->type() == QEvent::StyleChange)
        table_.reset();
    QLabel::changeEvent(e);
}
