#include "link/jobs/flash_chips.h"
#include "link/jobs/flash_jobs.h"
#include "link/jobs/flash_ops.h"
#include "link/jobs/job_context.h"
#include "link/port/port.h"
#include "link/protocol/link.h"

namespace corvex::link {

namespace {

constexpr std::uint32_t kDeviceWordOffset = 4;
// What a bus without a receiver on it reads back.
constexpr std::uint32_t kNoAnswer = 0xFFFFFFFF;

} // namespace

void signatureJob(JobContext& guard, const GuardRecord& /*command*/) {
    // A break lets the transactions below fall through; the job still reports what it read, and
    // the Guard's abort report follows.
    (void)guard.jobPrologue();
    std::uint32_t maker = kNoAnswer;
    std::uint32_t device = kNoAnswer;
    if (const FlashFamily* family = flashFamily(guard.hardwareType())) {
        // The chips identify themselves at the family's array base, whatever FlashBase says.
        FlashOps flash(guard.link(), *family);
        flash.commandSequence(family->autoselect);
        maker = guard.link().readWord(family->arrayBase);
        device = guard.link().readWord(family->arrayBase + kDeviceWordOffset);
        flash.FlashReset();
    }
    const ChipIdentity chip = identifyChip(guard.hardwareType(), maker, device);
    guard.noteSignature(chip.known ? chip.text : std::string());
    guard.messageRecord().Flag = chip.known ? 0 : 1;
    guard.Post(kMsgSignature, chip.text, guard.messageRecord().Data);
}

} // namespace corvex::link
