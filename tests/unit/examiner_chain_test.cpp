// The end of a deep pass: every search builds what it found into its log, also after another
// could not, and the chain answers with the first failure so that the scan does not report
// success over finds that were not kept.
#include "engines/deep/examiner_chain.h"

#include <gtest/gtest.h>

namespace keltra {
namespace {

class EndingSearch : public SectorExaminer {
  public:
    explicit EndingSearch(Status end) : end_(end) {}

    Status Begin(const PassStart& /*start*/) override { return kOk; }
    SpanVerdict Examine(std::span<const std::byte> /*span*/, uint64_t /*firstSector*/,
                        PassPosition& /*at*/) override {
        return {};
    }
    Status Finish(const PassEnd& /*end*/) override {
        ++finished;
        return end_;
    }

    int finished = 0;

  private:
    Status end_;
};

TEST(ExaminerChainEnd, EverySearchFinishesAndTheFirstFailureIsTheChains) {
    EndingSearch sound(kOk);
    EndingSearch full(kErrDiskFull);
    EndingSearch broken(kErrWriteFault);
    SectorSource source;

    ExaminerChain failing;
    failing.Add(sound, ExaminerChain::Reach::EverySector);
    failing.Add(full, ExaminerChain::Reach::SectorBySector);
    failing.Add(broken, ExaminerChain::Reach::SectorBySector);
    EXPECT_EQ(failing.Finish({source, 512, {}}), kErrDiskFull);
    EXPECT_EQ(sound.finished, 1);
    EXPECT_EQ(full.finished, 1);
    EXPECT_EQ(broken.finished, 1) << "a search after a failed one still builds its finds";

    ExaminerChain fine;
    fine.Add(sound, ExaminerChain::Reach::EverySector);
    fine.Add(sound, ExaminerChain::Reach::SectorBySector);
    EXPECT_EQ(fine.Finish({source, 512, {}}), kOk);
    EXPECT_EQ(sound.finished, 3);
}

}  // namespace
}  // namespace keltra
