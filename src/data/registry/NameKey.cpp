#include "data/registry/NameKey.h"

#include "data/base/TextRules.h"

namespace marvesa {

namespace {

// Letters written differently at the beginning of a word: Є, Ї, Й, Ю, Я.
struct Letter {
    char16_t cyrillic;  // the capital
    const char* latin;
    const char* atWordStart;  // null: as elsewhere
};

// The Ukrainian national transliteration, then Russian's own letters.
const Letter kLetters[] = {
    {u'А', "A", nullptr},  {u'Б', "B", nullptr},    {u'В', "V", nullptr},  {u'Г', "H", nullptr},
    {u'Ґ', "G", nullptr},  {u'Д', "D", nullptr},    {u'Е', "E", nullptr},  {u'Є', "IE", "YE"},
    {u'Ж', "ZH", nullptr}, {u'З', "Z", nullptr},    {u'И', "Y", nullptr},  {u'І', "I", nullptr},
    {u'Ї', "I", "YI"},     {u'Й', "I", "Y"},        {u'К', "K", nullptr},  {u'Л', "L", nullptr},
    {u'М', "M", nullptr},  {u'Н', "N", nullptr},    {u'О', "O", nullptr},  {u'П', "P", nullptr},
    {u'Р', "R", nullptr},  {u'С', "S", nullptr},    {u'Т', "T", nullptr},  {u'У', "U", nullptr},
    {u'Ф', "F", nullptr},  {u'Х', "KH", nullptr},   {u'Ц', "TS", nullptr}, {u'Ч', "CH", nullptr},
    {u'Ш', "SH", nullptr}, {u'Щ', "SHCH", nullptr}, {u'Ь', "", nullptr},   {u'Ю', "IU", "YU"},
    {u'Я', "IA", "YA"},    {u'Ё', "E", nullptr},    {u'Ъ', "IE", nullptr}, {u'Ы', "Y", nullptr},
    {u'Э', "E", nullptr},  {u'Ў', "U", nullptr},
};

const Letter* letterOf(QChar capital) {
    for (const Letter& l : kLetters) {
        if (l.cyrillic == capital.unicode())
            return &l;
    }
    return nullptr;
}

bool isApostrophe(QChar c) {
    switch (c.unicode()) {
        case u'\'':
        case u'`':
        case u'´':
        case u'‘':
        case u'’':
        case u'ʼ':
            return true;
        default:
            return false;
    }
}

bool isCyrillic(QChar c) {
    return c.unicode() >= 0x0400 && c.unicode() <= 0x04FF;
}

}  // namespace

QString latinLetters(const QString& text) {
    bool any = false;
    for (const QChar c : text) {
        if (isCyrillic(c)) {
            any = true;
            break;
        }
    }
    if (!any)
        return text;
    QString out;
    out.reserve(text.size() * 2);
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i).toUpper();
        const Letter* l = isCyrillic(c) ? letterOf(c) : nullptr;
        if (!l) {
            out += text.at(i);
            continue;
        }
        // A word begins after anything but a letter or an apostrophe (which
        // Ukrainian writes inside words: Мар'яна).
        const bool wordStart =
            i == 0 || (!text.at(i - 1).isLetter() && !isApostrophe(text.at(i - 1)));
        // ЗГ is written ZGH, so that it does not read as Ж.
        if (c == QChar(u'Г') && i > 0 && text.at(i - 1).toUpper() == QChar(u'З')) {
            out += QLatin1String("GH");
            continue;
        }
        out += QLatin1String(wordStart && l->atWordStart ? l->atWordStart : l->latin);
    }
    return out;
}

QString nameKeyPart(const QString& text) {
    return foldForMatching(latinLetters(text));
}

NameKey NameKey::of(const QString& surname, const QString& name) {
    return {nameKeyPart(surname), nameKeyPart(name)};
}

QString NameKey::stored() const {
    return cutToWidth(surname + QLatin1Char(' ') + name, kNameKeyWidth);
}

NameKey NameKey::fromStored(const QString& stored) {
    const int blank = int(stored.indexOf(QLatin1Char(' ')));
    if (blank < 0)
        return {stored, QString()};
    return {stored.left(blank), stored.mid(blank + 1)};
}

}  // namespace marvesa
