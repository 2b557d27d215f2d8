#include "job/output_rules.h"

#include "base/text.h"

namespace morla {

std::u16string OutputPathFor(std::u16string_view inputPath) {
    const std::u16string_view name = FileNamePart(inputPath);
    const std::size_t folderLength = inputPath.size() - name.size();
    const std::size_t dot = name.rfind(u'.');
    std::u16string output(inputPath);
    if (dot != std::u16string_view::npos && dot != 0) {
        output.resize(folderLength + dot);
    }
    output += u"_new.s98";
    return output;
}

}  // namespace morla
