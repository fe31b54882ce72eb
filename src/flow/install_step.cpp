#include "flow/install_step.h"

namespace vantile {

const InstallStepTexts& install_step_texts(InstallStep step) {
    const auto row = static_cast<std::size_t>(step);
    return row < std::size(INSTALL_STEPS) ? INSTALL_STEPS[row] : INSTALL_STEPS[0];
}

std::string_view display_name(InstallStep step) {
    return install_step_texts(step).display_name;
}

}  // namespace vantile
