#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

#include "document/problem.h"
#include "level/text_splice.h"

// Reads JSON text in place: every value is known by its span in the text, so a writer can replace
// single values and keep every other byte (member order, blanks, number forms) as it stood.
class JsonScanner
{
  public:
    struct Value {
        Span span;
        char kind = 0;  // '{', '[', '"', '0' for a number, 't', 'f', 'n'
        bool valid() const { return kind != 0; }
    };

    struct Member {
        QString key;
        Span keyText;         // inside the key's quotes
        qsizetype leadBegin;  // just after the '{' or ',' before the member
        Value value;
    };

    explicit JsonScanner(const QByteArray& text) : text_(text) {}

    // Checks that the text is one JSON value with blanks around it at most; false with the place
    // and the reason in problem otherwise. The other calls are for checked text only.
    bool check(Problem& problem) const;

    Value root() const;
    // Calls visit(const Member&) for each member of an object, in order.
    template <typename Visit> void members(Value object, Visit visit) const;
    // Calls visit(index, value) for each element of an array, in order.
    template <typename Visit> void elements(Value array, Visit visit) const;

    // The text of a string value with its escapes undone; empty for any other value.
    QString string(Value value) const;
    // A number value that is a whole number; false for anything else.
    bool integer(Value value, int64_t& result) const;
    // The text between the quotes of a string value, escapes as written.
    Span stringInside(Value value) const { return {value.span.begin + 1, value.span.end - 1}; }

  private:
    qsizetype skipBlanks(qsizetype at) const;
    Value valueAt(qsizetype at) const;
    qsizetype skipString(qsizetype at) const;

    const QByteArray& text_;
    // Every object and array of checked text, from its opening bracket to just after its closing
    // one, in the order they open: finding a container's end is a lookup, not a walk over it, so
    // deep nesting costs no more than flat text.
    mutable std::vector<Span> containers_;
};

// The members of one object, looked up by name.
class JsonFields
{
  public:
    JsonFields(const JsonScanner& json, JsonScanner::Value object)
    {
        json.members(object,
                     [this](const JsonScanner::Member& member) { members_.push_back(member); });
    }
    const JsonScanner::Member* find(QStringView key) const
    {
        for (const JsonScanner::Member& member : members_)
            if (member.key == key)
                return &member;
        return nullptr;
    }
    JsonScanner::Value value(QStringView key) const
    {
        const JsonScanner::Member* member = find(key);
        return member ? member->value : JsonScanner::Value();
    }
    const std::vector<JsonScanner::Member>& all() const { return members_; }

  private:
    std::vector<JsonScanner::Member> members_;
};

template <typename Visit> void JsonScanner::members(Value object, Visit visit) const
{
    if (object.kind != '{')
        return;
    qsizetype at = skipBlanks(object.span.begin + 1);
    qsizetype lead = object.span.begin + 1;
    while (text_[at] == '"') {
        const qsizetype keyEnd = skipString(at);
        const qsizetype valueBegin = skipBlanks(skipBlanks(keyEnd) + 1);  // past the colon
        const Member member{string({{at, keyEnd}, '"'}), {at + 1, keyEnd - 1}, lead,
                            valueAt(valueBegin)};
        visit(member);
        at = skipBlanks(member.value.span.end);
        if (text_[at] != ',')
            break;
        lead = at + 1;
        at = skipBlanks(at + 1);
    }
}

template <typename Visit> void JsonScanner::elements(Value array, Visit visit) const
{
    if (array.kind != '[')
        return;
    qsizetype at = skipBlanks(array.span.begin + 1);
    for (int64_t index = 0; text_[at] != ']'; ++index) {
        const Value value = valueAt(at);
        visit(index, value);
        at = skipBlanks(value.span.end);
        if (text_[at] == ',')
            at = skipBlanks(at + 1);
    }
}

struct TilesetSite;

// An entry of list in site for the tile id at id, with the animation frames and properties of its
// object; container and item: its place in site.containers. keyedProperties: the object's members
// are its tile's properties by name too (an older file's tileproperties).
void addJsonEntry(const JsonScanner& json, TilesetSite& site, int list, Span id, Span whole,
                  JsonScanner::Value object, int container, int item,
                  bool keyedProperties = false);

// Each element of array (the objects among them) as an entry of list in site, its tile id under
// key, in a container of its own so that entries can leave with their commas.
void addJsonArrayEntries(const JsonScanner& json, TilesetSite& site, JsonScanner::Value array,
                         int list, QStringView key);
