#include "job/collection.h"

#include <algorithm>
#include <iterator>
#include <optional>

#include "base/text.h"
#include "platform/file_io.h"

namespace morla {
namespace {

bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// The run of digits, or of other characters, that starts at `from`.
std::u16string_view RunAt(std::u16string_view name, std::size_t from) {
    const bool digits = IsDigit(name[from]);
    std::size_t end = from + 1;
    while (end < name.size() && IsDigit(name[end]) == digits) {
        ++end;
    }
    return name.substr(from, end - from);
}

// <0, 0, >0 as digit run `a` is below, equal to or above digit run `b`.
int CompareNumbers(std::u16string_view a, std::u16string_view b) {
    const auto significant = [](std::u16string_view run) {
        const std::size_t first = run.find_first_not_of(u'0');
        return first == std::u16string_view::npos ? std::u16string_view() : run.substr(first);
    };
    const std::u16string_view x = significant(a), y = significant(b);
    if (x.size() != y.size()) {
        return x.size() < y.size() ? -1 : 1;
    }
    if (const int order = x.compare(y); order != 0) {
        return order;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);  // "1" before "01"
}

int CompareWords(std::u16string_view a, std::u16string_view b) {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) {
            return AsciiLower(a[i]) < AsciiLower(b[i]) ? -1 : 1;
        }
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace

bool NaturalLess(std::u16string_view a, std::u16string_view b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const std::u16string_view x = RunAt(a, i), y = RunAt(b, j);
        const bool xDigits = IsDigit(x[0]), yDigits = IsDigit(y[0]);
        int order = 0;
        if (xDigits != yDigits) {
            order = xDigits ? -1 : 1;  // a number before a word
        } else {
            order = xDigits ? CompareNumbers(x, y) : CompareWords(x, y);
        }
        if (order != 0) {
            return order < 0;
        }
        i += x.size();
        j += y.size();
    }
    if ((i < a.size()) != (j < b.size())) {
        return i == a.size();  // the one that ran out first
    }
    return a < b;
}

bool IsCollectedName(std::u16string_view name) {
    constexpr std::u16string_view kExtension = u".s98";
    if (name.empty() || name[0] == u'.' || name.size() <= kExtension.size()) {
        return false;
    }
    const std::u16string_view end = name.substr(name.size() - kExtension.size());
    return std::equal(end.begin(), end.end(), kExtension.begin(),
                      [](char16_t x, char16_t y) { return AsciiLower(x) == y; });
}

std::vector<CollectedFolder> CollectFolder(const std::u16string& path) {
    std::vector<CollectedFolder> collected;
    const std::optional<std::vector<FolderEntry>> entries = ListFolder(path);
    if (!entries) {
        return collected;
    }
    std::vector<std::u16string> files, folders;
    for (const FolderEntry& entry : *entries) {
        if (entry.kind == FolderEntry::Kind::File && IsCollectedName(entry.name)) {
            files.push_back(entry.name);
        } else if (entry.kind == FolderEntry::Kind::Folder && entry.name[0] != u'.') {
            folders.push_back(entry.name);
        }
    }
    std::sort(files.begin(), files.end(), NaturalLess);
    std::sort(folders.begin(), folders.end(), NaturalLess);
    if (!files.empty()) {
        CollectedFolder own{path, {}};
        for (const std::u16string& name : files) {
            own.files.push_back(PathInFolder(path, name));
        }
        collected.push_back(std::move(own));
    }
    for (const std::u16string& name : folders) {
        std::vector<CollectedFolder> below = CollectFolder(PathInFolder(path, name));
        std::move(below.begin(), below.end(), std::back_inserter(collected));
    }
    return collected;
}

}  // namespace morla
