// Collections: what a folder given to a front end stands for.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace morla {

// Natural name order, the same on every system: a name is split into runs of
// ASCII digits and runs of other characters, compared run by run. Two digit
// runs compare by value (then the shorter first: "1" before "01"), two other
// runs by UTF-16 code units with A-Z taken as a-z, and a digit run comes
// before another run; a name that runs out first comes first. Names still
// equal are ordered by their code units. So "track 2" comes before
// "track 10", and "Disc 1" before "disc 2".
bool NaturalLess(std::u16string_view a, std::u16string_view b);

// Whether a file of this name is taken from a folder: ".s98" in any letter
// case at its end, and not hidden (a name beginning with '.', such as the
// "._name.s98" files a Mac leaves on a copied folder).
bool IsCollectedName(std::u16string_view name);

// The S98 files of one folder of a collection.
struct CollectedFolder {
    std::u16string path;                // the folder, from the path as given
    std::vector<std::u16string> files;  // the paths of its own files, in natural order
};

// What the folder at `path` stands for: its own files first, then each of
// its sub-folders in natural order, expanded the same way. Only folders that
// hold files are listed; hidden folders, links to folders and anything
// unreadable are passed over.
std::vector<CollectedFolder> CollectFolder(const std::u16string& path);

}  // namespace morla
