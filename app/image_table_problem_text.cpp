#include "app/image_table_problem_text.h"

#include "app/apply_section.h"
#include "app/message_format.h"

namespace keltra {

QString ImageTableProblemText(const ImageTableProblem& p) {
    using Kind = ImageTableProblem::Kind;
    const auto n = [](auto value) { return QString::number(value); };
    switch (p.kind) {
        case Kind::kCutShort:
            return FormatMessage(MessageText("MSG0227"), {n(p.diskSectors), n(p.imageSectors)});
        case Kind::kCutShortAndDamaged:
            return FormatMessage(MessageText("MSG0228"), {n(p.diskSectors), n(p.imageSectors)});
        case Kind::kStartsPastEnd:
            return FormatMessage(MessageText("MSG0229"),
                                 {n(p.partition), n(p.first), n(p.last), n(p.imageSectors)});
        case Kind::kEndsPastEnd:
            return FormatMessage(MessageText("MSG0230"), {n(p.partition), n(p.first), n(p.last),
                                                          n(p.imageSectors), n(p.keptSectors)});
        case Kind::kOverlaps:
            return FormatMessage(MessageText("MSG0231"),
                                 {n(p.partition), n(p.first), n(p.last), n(p.otherPartition),
                                  n(p.otherFirst), n(p.otherLast)});
    }
    return QString::fromStdString(p.Text());
}

}  // namespace keltra
