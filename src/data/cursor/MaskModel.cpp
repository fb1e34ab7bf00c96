#include "data/cursor/MaskModel.h"

#include "data/base/Error.h"

namespace marvesa {

EditMask::EditMask(const QString& mask) : m_source(mask) {
    const QStringList parts = mask.split(QLatin1Char(';'));
    QString tmpl = parts.value(0);
    if (tmpl.startsWith(QLatin1Char('!')))
        tmpl.remove(0, 1);
    if (parts.size() > 2 && !parts.at(2).isEmpty())
        m_placeholder = parts.at(2).at(0);
    for (QChar c : tmpl) {
        if (c == QLatin1Char('9')) {
            m_kinds << Optional;
            m_literals += QChar();
        } else if (c == QLatin1Char('0')) {
            m_kinds << Required;
            m_literals += QChar();
        } else {
            m_kinds << Literal;
            m_literals += c;
        }
    }
}

MaskedText::MaskedText(EditMask mask) : m_mask(std::move(mask)), m_chars(m_mask.length()) {
    clear();
}

void MaskedText::clear() {
    for (int i = 0; i < m_chars.size(); ++i) {
        m_chars[i] = m_mask.isLiteral(i) ? m_mask.literalAt(i) : QChar();
    }
    m_cursor = nextEditable(0);
}

void MaskedText::setText(const QString& text) {
    for (int i = 0; i < m_chars.size(); ++i) {
        if (m_mask.isLiteral(i)) {
            m_chars[i] = m_mask.literalAt(i);
        } else {
            const QChar c = i < text.size() ? text.at(i) : QChar();
            m_chars[i] = c.isDigit() && c.unicode() < 0x80 ? c : QChar();
        }
    }
    m_cursor = nextEditable(0);
}

QString MaskedText::text() const {
    QString s;
    s.reserve(m_chars.size());
    for (QChar c : m_chars)
        s += c.isNull() ? QLatin1Char(' ') : c;
    return s;
}

QString MaskedText::editText() const {
    QString s;
    s.reserve(m_chars.size());
    for (QChar c : m_chars)
        s += c.isNull() ? m_mask.placeholder() : c;
    return s;
}

bool MaskedText::isEmpty() const {
    for (int i = 0; i < m_chars.size(); ++i) {
        if (!m_mask.isLiteral(i) && !m_chars[i].isNull())
            return false;
    }
    return true;
}

void MaskedText::setCursor(int pos) {
    m_cursor = qBound(0, pos, int(m_chars.size()));
}

int MaskedText::nextEditable(int pos) const {
    while (pos < m_chars.size() && m_mask.isLiteral(pos))
        ++pos;
    return pos;
}

bool MaskedText::type(QChar c) {
    const int n = m_chars.size();
    if (c.unicode() >= u'0' && c.unicode() <= u'9') {
        const int pos = nextEditable(m_cursor);
        if (pos >= n)
            return false;
        m_chars[pos] = c;
        m_cursor = nextEditable(pos + 1);
        return true;
    }
    // Typing the separator right after the edit stepped over it by itself
    // (the field before it is complete) just confirms it: "12/05/2022" typed
    // in full gives that date.
    if (m_cursor > 1 && m_cursor <= n && m_mask.isLiteral(m_cursor - 1) &&
        m_mask.literalAt(m_cursor - 1) == c && !m_mask.isLiteral(m_cursor - 2) &&
        !m_chars[m_cursor - 2].isNull()) {
        return true;
    }
    // The separator jumps to the first position after the next literal.
    if (m_cursor < n && !m_mask.isLiteral(m_cursor)) {
        for (int i = m_cursor + 1; i < n; ++i) {
            if (m_mask.isLiteral(i) && m_mask.literalAt(i) == c) {
                m_cursor = nextEditable(i + 1);
                return true;
            }
        }
    }
    return false;
}

void MaskedText::backspace() {
    int pos = qMin(m_cursor, int(m_chars.size())) - 1;
    while (pos >= 0 && m_mask.isLiteral(pos))
        --pos;
    if (pos < 0)
        return;
    m_chars[pos] = QChar();
    m_cursor = pos;
}

void MaskedText::del() {
    const int pos = nextEditable(m_cursor);
    if (pos >= m_chars.size())
        return;
    m_chars[pos] = QChar();
    m_cursor = pos;
}

void MaskedText::clearRange(int from, int to) {
    const int n = m_chars.size();
    from = qBound(0, from, n);
    to = qBound(0, to, n);
    for (int i = from; i < to; ++i) {
        if (!m_mask.isLiteral(i))
            m_chars[i] = QChar();
    }
    // A range reaching past the template leaves the cursor at its end, never
    // beyond: every later keystroke indexes the positions from the cursor.
    m_cursor = from;
}

int MaskedText::firstMissingRequired() const {
    for (int i = 0; i < m_chars.size(); ++i) {
        if (m_mask.isRequired(i) && m_chars[i].isNull())
            return i;
    }
    return -1;
}

void MaskedText::validate() {
    const int missing = firstMissingRequired();
    if (missing >= 0) {
        m_cursor = missing;
        throw Error(QStringLiteral("Invalid input value.  Use escape key to abandon changes"));
    }
}

}  // namespace marvesa
