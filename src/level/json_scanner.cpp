#include "level/json_scanner.h"

#include "level/level_sites.h"

#include <algorithm>
#include <vector>

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

int hexValue(char c)
{
    if (isDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A strict reader of the JSON grammar with an explicit stack, so deep nesting costs no call depth.
class Checker
{
  public:
    Checker(const QByteArray& text, std::vector<Span>& containers)
        : text_(text), size_(text.size()), containers_(containers)
    {
    }

    bool run(qsizetype& errorAt, QString& error)
    {
        // Containers still open: '{' or '['; after each value, what may follow depends on the top.
        std::vector<char> open;
        at_ = blanks(0);
        for (;;) {
            if (!value(open))
                return fail(errorAt, error);
            // Close containers and move to the next member or element.
            for (;;) {
                at_ = blanks(at_);
                if (open.empty()) {
                    if (at_ != size_)
                        return fail(errorAt, error,
                                    QStringLiteral("text follows the end of the JSON"));
                    return true;
                }
                const char closer = open.back() == '{' ? '}' : ']';
                if (at_ < size_ && text_[at_] == closer) {
                    close(open);
                    continue;
                }
                if (at_ < size_ && text_[at_] == ',') {
                    at_ = blanks(at_ + 1);
                    if (open.back() == '{' && !key())
                        return fail(errorAt, error);
                    break;
                }
                return fail(
                    errorAt, error,
                    QStringLiteral("a ',' or '%1' is missing").arg(QChar::fromLatin1(closer)));
            }
        }
    }

  private:
    // One value, or the opening of a container (then its first key when an object).
    bool value(std::vector<char>& open)
    {
        if (at_ >= size_)
            return expected(QStringLiteral("the JSON ends too early"));
        const char c = text_[at_];
        if (c == '{' || c == '[') {
            if (open.size() >= kDeepest)
                return expected(QStringLiteral("the JSON is nested too deeply"));
            open.push_back(c);
            openAt_.push_back(containers_.size());
            containers_.push_back({at_, -1});
            at_ = blanks(at_ + 1);
            const char closer = c == '{' ? '}' : ']';
            if (at_ < size_ && text_[at_] == closer) {
                close(open);
                return true;
            }
            if (c == '{')
                return key() && value(open);
            return value(open);
        }
        if (c == '"')
            return string();
        if (c == '-' || isDigit(c))
            return number();
        for (const char* word : {"true", "false", "null"}) {
            const QByteArrayView literal(word);
            if (QByteArrayView(text_).sliced(at_).startsWith(literal)) {
                at_ += literal.size();
                return true;
            }
        }
        return expected(QStringLiteral("a value is missing"));
    }

    // Closes the innermost container at its closing bracket.
    void close(std::vector<char>& open)
    {
        open.pop_back();
        containers_[openAt_.back()].end = ++at_;
        openAt_.pop_back();
    }

    // A member's key and its colon, leaving at_ on the value.
    bool key()
    {
        if (at_ >= size_ || text_[at_] != '"')
            return expected(QStringLiteral("a member name is missing"));
        if (!string())
            return false;
        at_ = blanks(at_);
        if (at_ >= size_ || text_[at_] != ':')
            return expected(QStringLiteral("a ':' is missing"));
        at_ = blanks(at_ + 1);
        return true;
    }

    bool string()
    {
        ++at_;
        while (at_ < size_) {
            const uchar c = uchar(text_[at_]);
            if (c == '"') {
                ++at_;
                return true;
            }
            if (c < 0x20)
                return expected(QStringLiteral("a string holds a control character"));
            if (c == '\\') {
                if (at_ + 1 >= size_)
                    break;
                const char escape = text_[at_ + 1];
                if (escape == 'u') {
                    for (int i = 2; i < 6; ++i)
                        if (at_ + i >= size_ || hexValue(text_[at_ + i]) < 0)
                            return expected(QStringLiteral("a \\u escape is incomplete"));
                    at_ += 6;
                    continue;
                }
                if (!QByteArrayView("\"\\/bfnrt").contains(escape))
                    return expected(QStringLiteral("a string holds an unknown escape"));
                at_ += 2;
                continue;
            }
            ++at_;
        }
        return expected(QStringLiteral("a string is not closed"));
    }

    bool number()
    {
        if (text_[at_] == '-')
            ++at_;
        if (at_ >= size_ || !isDigit(text_[at_]))
            return expected(QStringLiteral("a number has no digits"));
        if (text_[at_] == '0')
            ++at_;
        else
            at_ = digits(at_);
        if (at_ < size_ && text_[at_] == '.') {
            const qsizetype after = digits(at_ + 1);
            if (after == at_ + 1)
                return expected(QStringLiteral("a number has no digits after its point"));
            at_ = after;
        }
        if (at_ < size_ && (text_[at_] == 'e' || text_[at_] == 'E')) {
            qsizetype from = at_ + 1;
            if (from < size_ && (text_[from] == '+' || text_[from] == '-'))
                ++from;
            const qsizetype after = digits(from);
            if (after == from)
                return expected(QStringLiteral("a number has no digits in its exponent"));
            at_ = after;
        }
        return true;
    }

    qsizetype digits(qsizetype at) const
    {
        while (at < size_ && isDigit(text_[at]))
            ++at;
        return at;
    }

    qsizetype blanks(qsizetype at) const
    {
        while (at < size_ && isBlank(text_[at]))
            ++at;
        return at;
    }

    bool expected(const QString& reason)
    {
        reason_ = reason;
        return false;
    }

    bool fail(qsizetype& errorAt, QString& error, const QString& reason = QString())
    {
        errorAt = at_;
        error = reason.isEmpty() ? reason_ : reason;
        return false;
    }

    static constexpr size_t kDeepest = 512;
    const QByteArray& text_;
    const qsizetype size_;
    std::vector<Span>& containers_;
    std::vector<size_t> openAt_;  // the open containers' places in containers_
    qsizetype at_ = 0;
    QString reason_;
};

}  // namespace

bool JsonScanner::check(qsizetype& errorAt, QString& error) const
{
    containers_.clear();
    if (Checker(text_, containers_).run(errorAt, error))
        return true;
    containers_.clear();
    return false;
}

qsizetype JsonScanner::skipBlanks(qsizetype at) const
{
    while (at < text_.size() && isBlank(text_[at]))
        ++at;
    return at;
}

qsizetype JsonScanner::skipString(qsizetype at) const
{
    ++at;
    while (text_[at] != '"')
        at += text_[at] == '\\' ? 2 : 1;
    return at + 1;
}

JsonScanner::Value JsonScanner::root() const
{
    return valueAt(skipBlanks(0));
}

JsonScanner::Value JsonScanner::valueAt(qsizetype at) const
{
    const char c = text_[at];
    if (c == '"')
        return {{at, skipString(at)}, '"'};
    if (c == '{' || c == '[') {
        const auto found = std::lower_bound(
            containers_.begin(), containers_.end(), at,
            [](const Span& container, qsizetype begin) { return container.begin < begin; });
        if (found != containers_.end() && found->begin == at)
            return {*found, c};
        // The text is checked, so only strings can hide brackets.
        qsizetype depth = 0;
        qsizetype i = at;
        do {
            const char d = text_[i];
            if (d == '"') {
                i = skipString(i);
                continue;
            }
            if (d == '{' || d == '[')
                ++depth;
            else if (d == '}' || d == ']')
                --depth;
            ++i;
        } while (depth > 0);
        return {{at, i}, c};
    }
    qsizetype i = at;
    while (i < text_.size() && !isBlank(text_[i]) && text_[i] != ',' && text_[i] != '}' &&
           text_[i] != ']')
        ++i;
    const char kind = c == 't' || c == 'f' || c == 'n' ? c : '0';
    return {{at, i}, kind};
}

QString JsonScanner::string(Value value) const
{
    if (value.kind != '"')
        return QString();
    const QByteArrayView inside =
        QByteArrayView(text_).sliced(value.span.begin + 1, value.span.size() - 2);
    if (!inside.contains('\\'))
        return QString::fromUtf8(inside);
    QString out;
    QByteArray run;  // plain bytes waiting for UTF-8 decoding
    for (qsizetype i = 0; i < inside.size(); ++i) {
        if (inside[i] != '\\') {
            run.append(inside[i]);
            continue;
        }
        out += QString::fromUtf8(run);
        run.clear();
        const char escape = inside[++i];
        switch (escape) {
        case 'b':
            out += QChar(u'\b');
            break;
        case 'f':
            out += QChar(u'\f');
            break;
        case 'n':
            out += QChar(u'\n');
            break;
        case 'r':
            out += QChar(u'\r');
            break;
        case 't':
            out += QChar(u'\t');
            break;
        case 'u': {
            int code = 0;
            for (int k = 1; k <= 4; ++k)
                code = code * 16 + hexValue(inside[i + k]);
            out += QChar(char16_t(code));
            i += 4;
            break;
        }
        default:
            out += QChar::fromLatin1(escape);
            break;
        }
    }
    return out + QString::fromUtf8(run);
}

bool JsonScanner::integer(Value value, int64_t& result) const
{
    return value.kind == '0' &&
           parseWholeNumber(QByteArrayView(text_).sliced(value.span.begin, value.span.size()), true,
                            result);
}

namespace {

using Fields = JsonFields;
using Value = JsonScanner::Value;

}  // namespace

void addJsonEntry(const JsonScanner& json, TilesetSite& site, int list, Span id, Span whole,
              Value object, int container, int item)
{
    if (!id.valid())
        return;
    TileEntry entry;
    entry.list = list;
    entry.id = id;
    entry.whole = whole;
    entry.container = container;
    entry.item = item;
    if (object.kind == '{') {
        const Fields fields(json, object);
        json.elements(fields.value(u"animation"), [&](int64_t, Value frame) {
            if (frame.kind == '{')
                if (const Value tile = Fields(json, frame).value(u"tileid"); tile.valid())
                    entry.frames.push_back(tile.span);
        });
        json.elements(fields.value(u"properties"), [&](int64_t, Value property) {
            if (property.kind != '{')
                return;
            const Fields named(json, property);
            const Value value = named.value(u"value");
            if (value.kind == '"' || value.kind == '0')
                entry.properties.push_back(
                    {json.string(named.value(u"name")),
                     value.kind == '"' ? json.stringInside(value) : value.span});
        });
        // An object holding only its id, or nothing at all when keyed by it.
        const bool keyed = whole.begin != object.span.begin;
        entry.empty = fields.all().size() == (keyed ? 0u : 1u);
    }
    site.entries.push_back(std::move(entry));
}

void addJsonArrayEntries(const JsonScanner& json, TilesetSite& site, Value array, int list,
                         QStringView key)
{
    if (array.kind != '[')
        return;
    const int container = int(site.containers.size());
    site.containers.push_back({{array.span.begin + 1, array.span.end - 1}, {}});
    json.elements(array, [&](int64_t index, Value item) {
        site.containers.back().items.push_back(item.span);
        if (item.kind == '{')
            addJsonEntry(json, site, list, Fields(json, item).value(key).span, item.span, item,
                     container, int(index));
    });
}

