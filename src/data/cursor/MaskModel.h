#pragma once

#include <QString>
#include <QVector>

namespace marvesa {

// An input mask of the form "<template>;<save literals>;<placeholder>", as
// the date edits use: "!99/99/0000;1;_". In the template "9" is a digit
// position that may stay empty, "0" a digit position that must be filled,
// and any other character (here the date separator "/") a literal shown in
// the edit and never typed over. A leading "!" aligns the text read to the
// template's right end, which for a text of fixed length changes nothing.
class EditMask {
public:
    EditMask() = default;
    explicit EditMask(const QString& mask);

    bool isValid() const { return !m_kinds.isEmpty(); }
    int length() const { return m_kinds.size(); }
    bool isLiteral(int pos) const { return m_kinds.at(pos) == Literal; }
    bool isRequired(int pos) const { return m_kinds.at(pos) == Required; }
    QChar literalAt(int pos) const { return m_literals.at(pos); }
    QChar placeholder() const { return m_placeholder; }
    const QString& source() const { return m_source; }

private:
    enum Kind { Optional, Required, Literal };
    QVector<Kind> m_kinds;
    QString m_literals;
    QChar m_placeholder = QLatin1Char('_');
    QString m_source;
};

// What a masked edit holds: one character per template position (a digit or
// nothing) and the cursor. Widget-free; the edit control draws it.
class MaskedText {
public:
    explicit MaskedText(EditMask mask = EditMask());

    const EditMask& mask() const { return m_mask; }

    // Fills the positions from a text as the column shows it ("12/05/2022",
    // possibly followed by a time, which does not fit and is dropped).
    void setText(const QString& text);
    void clear();

    // The text read: always the template's length, literals in place, a blank
    // in every empty position.
    QString text() const;
    // The text shown while the edit has the focus: the placeholder in every
    // empty position.
    QString editText() const;

    bool isEmpty() const;

    int cursor() const { return m_cursor; }
    void setCursor(int pos);

    // Types one character at the cursor (replacing a selection from..to
    // first, when given). Returns false when the character is refused (the
    // edit beeps): only digits go into digit positions; typing the literal
    // jumps past the next literal, or, right after the edit stepped over a
    // literal behind a complete field, is taken as that literal.
    bool type(QChar c);
    // Backspace and Delete; with a selection they empty its positions.
    void backspace();
    void del();
    void clearRange(int from, int to);

    // The first required position left empty, or -1 when all are filled.
    int firstMissingRequired() const;
    // Throws "Invalid input value.  Use escape key to abandon changes" when a
    // required position is empty, putting the cursor on it.
    void validate();

private:
    int nextEditable(int pos) const;  // first digit position at or after pos
    EditMask m_mask;
    QVector<QChar> m_chars;  // null QChar for an empty position
    int m_cursor = 0;
};

}  // namespace marvesa
