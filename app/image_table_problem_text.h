// A line about a partition table entry an image cannot hold, in the user's language.
#pragma once

#include <QString>

#include "storage/image_volumes.h"

namespace keltra {

QString ImageTableProblemText(const ImageTableProblem& problem);

}  // namespace keltra
