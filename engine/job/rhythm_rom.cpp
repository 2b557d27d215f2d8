#include "job/rhythm_rom.h"

#include <algorithm>

#include "base/text.h"
#include "platform/file_io.h"

namespace morla {

std::u16string ReadRhythmRom(const std::u16string& path, RhythmRom& rom) {
    S98Image image;
    InputFacts facts;
    if (ReadWholeFile(path, image, facts) != ReadStatus::Ok) {
        return u"cannot be read";
    }
    if (image.size() != rom.size()) {
        return FormatText("is %zu bytes, not %zu", image.size(), rom.size());
    }
    std::copy_n(image.data(), rom.size(), rom.begin());
    return {};
}

}  // namespace morla
