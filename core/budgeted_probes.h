#pragma once
// Probes whose drive queries never wait longer than the round's budget: space and volume
// come from DriveAnswers (one answer per drive per round), everything else from the inner
// probes, which must answer without touching any drive's filesystem (memory, the mount
// table, the interface table).
#include <functional>
#include <memory>

#include "core/drive_answers.h"
#include "core/probes.h"

namespace koravex {

class BudgetedProbes : public Probes {
  public:
    BudgetedProbes(std::unique_ptr<Probes> inner, std::unique_ptr<DriveAsker> asker,
                   std::function<DriveAnswers::Clock::time_point()> now = DriveAnswers::Clock::now,
                   DriveAnswers::Limits limits = DriveAnswers::Limits{});
    ~BudgetedProbes() override;

    void beginDriveRound(const std::vector<std::string>& roots) override;
    std::optional<DriveSpace> driveSpace(std::string_view root) override;
    std::optional<VolumeInfo> volumeInformation(std::string_view root) override;

    MemoryStatus memoryStatus() override { return inner_->memoryStatus(); }
    std::vector<std::string> driveRoots() override { return inner_->driveRoots(); }
    DriveType driveType(std::string_view root) override { return inner_->driveType(root); }
    std::optional<std::string> remoteName(std::string_view root) override {
        return inner_->remoteName(root);
    }
    std::optional<std::vector<InterfaceRow>> interfaceTable() override {
        return inner_->interfaceTable();
    }
    char currentDirectoryDrive() override { return inner_->currentDirectoryDrive(); }

    DriveAnswers& answers() { return answers_; }

  private:
    std::unique_ptr<Probes> inner_;
    std::unique_ptr<DriveAsker> asker_;  // after inner_: it may use it, so it goes first
    DriveAnswers answers_;
};

}  // namespace koravex
