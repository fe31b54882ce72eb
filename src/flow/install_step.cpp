#include "flow/install_step.h"

namespace vantile {

std::string_view display_name(InstallStep step) {
    switch (step) {
        case InstallStep::Checking:
            return "Checking this computer";
        case InstallStep::ReadingManifest:
            return "Reading the release manifest";
        case InstallStep::Downloading:
            return "Downloading Vantile";
        case InstallStep::Unpacking:
            return "Unpacking Vantile";
        case InstallStep::Installing:
            return "Installing Vantile";
    }
    return "Checking this computer";
}

}  // namespace vantile
