// What the process helpers do the same way on every system.
#include "process/process.h"

namespace morla {

void InjectFileFault(FileStep step) {
    ArmFileFault(step);
}

}  // namespace morla
