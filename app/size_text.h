// Sizes as the windows show them: "512 B", "1.50 KB", "14.91 GB" (units of 1,024).
#pragma once

#include <QString>
#include <cstdint>

namespace keltra {

QString SizeText(uint64_t bytes);

}  // namespace keltra
