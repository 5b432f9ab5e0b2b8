#include "core/budgeted_probes.h"

namespace koravex {

BudgetedProbes::BudgetedProbes(std::unique_ptr<Probes> inner, std::unique_ptr<DriveAsker> asker,
                               std::function<DriveAnswers::Clock::time_point()> now,
                               DriveAnswers::Limits limits)
    : inner_(std::move(inner)),
      asker_(std::move(asker)),
      answers_(*asker_, std::move(now), limits) {}

BudgetedProbes::~BudgetedProbes() = default;

void BudgetedProbes::beginDriveRound(const std::vector<std::string>& roots) {
    inner_->beginDriveRound(roots);  // the mount table, looked at once per round
    answers_.beginRound(roots);
}

std::optional<DriveSpace> BudgetedProbes::driveSpace(std::string_view root) {
    const std::optional<DriveAnswer> a = answers_.answer(root);
    return a ? a->space : std::nullopt;
}

std::optional<VolumeInfo> BudgetedProbes::volumeInformation(std::string_view root) {
    const std::optional<DriveAnswer> a = answers_.answer(root);
    return a ? a->volume : std::nullopt;
}

}  // namespace koravex
