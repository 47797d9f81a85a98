#include "level/json_scanner.h"

#include "level/level_sites.h"

#include <algorithm>
#include <vector>

namespace {

using Value = JsonScanner::Value;
using Member = JsonScanner::Member;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

int hexValue(char c)
{
    const int at = int(QByteArrayView("0123456789abcdefABCDEF").indexOf(c));
    return at < 16 ? at : at - 6;
}

qsizetype pastBlanks(QByteArrayView text, qsizetype at)
{
    while (at < text.size() && isBlank(text[at]))
        ++at;
    return at;
}

// A strict reader of the JSON grammar with an explicit stack, so deep nesting costs no call depth.
class Checker
{
  public:
    Checker(QByteArrayView text, std::vector<Span>& containers)
        : text_(text), containers_(containers)
    {
    }

    bool run(qsizetype& errorAt, QString& error)
    {
        if (document())
            return true;
        errorAt = at_;
        error = reason_;
        return false;
    }

  private:
    // One value with blanks around it at most.
    bool document()
    {
        at_ = pastBlanks(text_, 0);
        for (;;) {
            if (!value())
                return false;
            // Close containers and move to the next member or element.
            for (;;) {
                at_ = pastBlanks(text_, at_);
                if (open_.empty())
                    return at_ == text_.size() ||
                           expected(QStringLiteral("text follows the end of the JSON"));
                const char closer = open_.back() == '{' ? '}' : ']';
                if (holds(at_, closer)) {
                    close();
                    continue;
                }
                if (!holds(at_, ','))
                    return expected(
                        QStringLiteral("a ',' or '%1' is missing").arg(QChar::fromLatin1(closer)));
                at_ = pastBlanks(text_, at_ + 1);
                if (open_.back() == '{' && !key())
                    return false;
                break;
            }
        }
    }

    // One value, or the opening of a container (then its first key when an object).
    bool value()
    {
        if (at_ >= text_.size())
            return expected(QStringLiteral("the JSON ends too early"));
        const char c = text_[at_];
        if (c == '{' || c == '[') {
            if (open_.size() >= kDeepest)
                return expected(QStringLiteral("the JSON is nested too deeply"));
            open_.push_back(c);
            openAt_.push_back(containers_.size());
            containers_.push_back({at_, -1});
            at_ = pastBlanks(text_, at_ + 1);
            if (holds(at_, c == '{' ? '}' : ']')) {
                close();
                return true;
            }
            return (c == '[' || key()) && value();
        }
        if (c == '"')
            return string();
        if (c == '-' || isDigit(c))
            return number();
        for (const QByteArrayView word : {"true", "false", "null"}) {
            if (text_.sliced(at_).startsWith(word)) {
                at_ += word.size();
                return true;
            }
        }
        return expected(QStringLiteral("a value is missing"));
    }

    // Closes the innermost container at its closing bracket.
    void close()
    {
        open_.pop_back();
        containers_[openAt_.back()].end = ++at_;
        openAt_.pop_back();
    }

    // A member's key and its colon, leaving at_ on the value.
    bool key()
    {
        if (!holds(at_, '"'))
            return expected(QStringLiteral("a member name is missing"));
        if (!string())
            return false;
        at_ = pastBlanks(text_, at_);
        if (!holds(at_, ':'))
            return expected(QStringLiteral("a ':' is missing"));
        at_ = pastBlanks(text_, at_ + 1);
        return true;
    }

    bool string()
    {
        ++at_;
        while (at_ < text_.size()) {
            const uchar c = uchar(text_[at_]);
            if (c == '"') {
                ++at_;
                return true;
            }
            if (c < 0x20)
                return expected(QStringLiteral("a string holds a control character"));
            if (c != '\\') {
                ++at_;
                continue;
            }
            if (at_ + 1 >= text_.size())
                break;
            const char escape = text_[at_ + 1];
            if (escape == 'u') {
                for (int i = 2; i < 6; ++i)
                    if (at_ + i >= text_.size() || hexValue(text_[at_ + i]) < 0)
                        return expected(QStringLiteral("a \\u escape is incomplete"));
            } else if (!QByteArrayView("\"\\/bfnrt").contains(escape)) {
                return expected(QStringLiteral("a string holds an unknown escape"));
            }
            at_ += escape == 'u' ? 6 : 2;
        }
        return expected(QStringLiteral("a string is not closed"));
    }

    bool number()
    {
        if (text_[at_] == '-')
            ++at_;
        if (holds(at_, '0'))
            ++at_;
        else if (!digitsFrom(at_, "a number has no digits"))
            return false;
        if (holds(at_, '.') && !digitsFrom(at_ + 1, "a number has no digits after its point"))
            return false;
        if (!holds(at_, 'e') && !holds(at_, 'E'))
            return true;
        const qsizetype from = holds(at_ + 1, '+') || holds(at_ + 1, '-') ? at_ + 2 : at_ + 1;
        return digitsFrom(from, "a number has no digits in its exponent");
    }

    // At least one digit from `from` on; at_ goes past them.
    bool digitsFrom(qsizetype from, const char* missing)
    {
        qsizetype after = from;
        while (after < text_.size() && isDigit(text_[after]))
            ++after;
        if (after == from)
            return expected(QString::fromLatin1(missing));
        at_ = after;
        return true;
    }

    bool holds(qsizetype at, char c) const { return at < text_.size() && text_[at] == c; }

    bool expected(const QString& reason)
    {
        reason_ = reason;
        return false;
    }

    static constexpr size_t kDeepest = 512;
    const QByteArrayView text_;
    std::vector<Span>& containers_;
    std::vector<char> open_;      // the open containers' brackets; what may follow is the top's
    std::vector<size_t> openAt_;  // the open containers' places in containers_
    qsizetype at_ = 0;
    QString reason_;
};

}  // namespace

bool JsonScanner::check(Problem& problem) const
{
    containers_.clear();
    qsizetype errorAt = 0;
    QString error;
    if (Checker(text_, containers_).run(errorAt, error))
        return true;
    containers_.clear();
    problem = {errorAt, QString(), QStringLiteral("the JSON is malformed (%1)").arg(error)};
    return false;
}

qsizetype JsonScanner::skipBlanks(qsizetype at) const
{
    return pastBlanks(text_, at);
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
        // check() noted every container of the text.
        const auto found = std::lower_bound(
            containers_.begin(), containers_.end(), at,
            [](const Span& container, qsizetype begin) { return container.begin < begin; });
        return found != containers_.end() && found->begin == at ? Value{*found, c} : Value();
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
    qsizetype plain = 0;  // where the bytes waiting for UTF-8 decoding start
    for (qsizetype i = 0; i < inside.size(); ++i) {
        if (inside[i] != '\\')
            continue;
        out += QString::fromUtf8(inside.sliced(plain, i - plain));
        plain = i + 2;
        const char escape = inside[++i];
        if (escape == 'u') {
            int code = 0;
            for (int k = 1; k <= 4; ++k)
                code = code * 16 + hexValue(inside[i + k]);
            out += QChar(char16_t(code));
            i += 4;
            plain = i + 1;
            continue;
        }
        // Five letters stand for control characters; any other escaped character for itself.
        const qsizetype control = QByteArrayView("bfnrt").indexOf(escape);
        out += QChar::fromLatin1(control < 0 ? escape : "\b\f\n\r\t"[control]);
    }
    return out + QString::fromUtf8(inside.sliced(plain));
}

bool JsonScanner::integer(Value value, int64_t& result) const
{
    return value.kind == '0' &&
           parseWholeNumber(QByteArrayView(text_).sliced(value.span.begin, value.span.size()), true,
                            result);
}

void addJsonEntry(const JsonScanner& json, TilesetSite& site, int list, Span id, Span whole,
                  Value object, int container, int item, bool keyedProperties)
{
    if (!id.valid())
        return;
    TileEntry entry;
    entry.list = list;
    entry.id = id;
    entry.whole = whole;
    entry.container = container;
    entry.item = item;
    const auto addProperty = [&](const QString& name, Value value) {
        if (value.kind == '"' || value.kind == '0')
            entry.properties.push_back(
                {name, value.kind == '"' ? json.stringInside(value) : value.span});
    };
    if (object.kind == '{') {
        const JsonFields fields(json, object);
        json.elements(fields.value(u"animation"), [&](int64_t, Value frame) {
            if (frame.kind == '{')
                if (const Value tile = JsonFields(json, frame).value(u"tileid"); tile.valid())
                    entry.frames.push_back(tile.span);
        });
        json.elements(fields.value(u"properties"), [&](int64_t, Value property) {
            if (property.kind != '{')
                return;
            const JsonFields named(json, property);
            addProperty(json.string(named.value(u"name")), named.value(u"value"));
        });
        if (keyedProperties)
            json.members(object, [&](const Member& member) {
                addProperty(member.key, member.value);
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
            addJsonEntry(json, site, list, JsonFields(json, item).value(key).span, item.span, item,
                         container, int(index));
    });
}
