#pragma once

#include <algorithm>
#include <cctype>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

// Names for the rows of parameterised tests, so that a failing row is named by what it is. Such
// names may hold only letters, digits and underscores.

// The words of text run together, each with a capital first letter: "sheet.old png" gives
// "SheetOldPng". Anything but ASCII letters and digits only parts words; at most maxWords words
// are taken; an empty result is "Empty".
inline std::string testNameOf(std::string_view text, size_t maxWords = 1000)
{
    std::string name;
    size_t words = 0;
    bool inWord = false;
    for (const char c : text) {
        const bool alnum = std::isalnum(static_cast<unsigned char>(c)) != 0;
        if (alnum && !inWord) {
            if (words++ == maxWords)
                break;
            name += char(std::toupper(static_cast<unsigned char>(c)));
        } else if (alnum) {
            name += c;
        }
        inWord = alnum;
    }
    return name.empty() ? std::string("Empty") : name;
}

// The same from the first maxWords words of text that are not "a", "an", "the", "it", "its",
// "is" or "of": "the tile id is missing" gives "TileIdMissing" with three.
inline std::string shortTestNameOf(std::string_view text, size_t maxWords)
{
    static const std::string_view small[] = {"a", "an", "the", "it", "its", "is", "of"};
    std::string kept;
    size_t from = 0;
    while (from < text.size()) {
        size_t to = text.find(' ', from);
        if (to == std::string_view::npos)
            to = text.size();
        const std::string_view word = text.substr(from, to - from);
        if (std::find(std::begin(small), std::end(small), word) == std::end(small))
            kept.append(word).append(" ");
        from = to + 1;
    }
    return testNameOf(kept, maxWords);
}

// The name of each row of a table as nameOf gives it, with "_" and its index appended where an
// earlier row has the same name, so that rows added later never clash.
template <class Rows, class NameOf>
std::vector<std::string> uniqueRowNames(const Rows& rows, NameOf nameOf)
{
    std::vector<std::string> names;
    for (const auto& row : rows) {
        std::string name = nameOf(row);
        if (std::find(names.begin(), names.end(), name) != names.end())
            name += "_" + std::to_string(names.size());
        names.push_back(std::move(name));
    }
    return names;
}
