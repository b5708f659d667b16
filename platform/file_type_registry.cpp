// SPDX-License-Identifier: BSD-3-Clause
// The .kpz file type's registry entries and the rules for writing them.
#include "file_type_registry.h"

namespace platform {

std::vector<RegistryEntry> fileTypeEntries(const std::string& programPath) {
    return {
        {".kpz", "Brisko Packer"},
        {"Brisko Packer", "Brisko Packer File"},
        {"Brisko Packer\\DefaultIcon", programPath + ",0"},
        {"Brisko Packer\\shell\\open\\command", '"' + programPath + "\" \"%1\""},
    };
}

std::string registerFileType(RegistryWriter& registry, const std::string& programPath) {
    std::string failure;
    for (const RegistryEntry& entry : fileTypeEntries(programPath)) {
        if (!registry.openKey(entry.key)) continue;
        const bool written = registry.setDefaultValue(entry.value);
        registry.closeKey();
        if (!written) {
            // The value's name is the default's, which is empty.
            failure = "Failed to set data for ''";
            break;
        }
    }
    // Once more, harmless when no key is open.
    registry.closeKey();
    return failure;
}

} // namespace platform
