#include "support/model_service.h"

#include <algorithm>
#include <utility>

#include "platform/platform.h"
#include "simulator/backup_components.h"
#include "simulator/writer_objects.h"

namespace frostcap::test {

std::string text(const std::u16string& value) { return simulator::recordText(value); }
std::string text(const vss::Guid& value) { return simulator::recordText(value); }

namespace {

// Entries of the record that are notes, not calls.
bool isCall(const simulator::RecordEntry& entry) {
  static const std::string kNotes[] = {"Release", "Breach", "Assumption", "Misuse"};
  return std::find(std::begin(kNotes), std::end(kNotes), entry.call) == std::end(kNotes) &&
         !entry.call.ends_with(".Result");
}

}  // namespace

ModelService::ModelService()
    : previousFactory_(
          vss::setBackupComponentsFactory([this](std::unique_ptr<vss::BackupComponents>& out) {
            std::unique_ptr<simulator::ModelBackupComponents> made;
            const Status status = model().createBackupComponents(made);
            out = std::move(made);
            return status;
          })) {}

ModelService::~ModelService() { vss::setBackupComponentsFactory(std::move(previousFactory_)); }

simulator::Simulation& ModelService::model() {
  if (!model_) {
    simulator::Scenario scenario;
    scenario.volumes = volumes;
    scenario.writers = writers;
    scenario.faults = faults_;
    scenario.refuseUnprepared = refuseUnprepared;
    model_ = simulator::Simulation::fromScenario(std::move(scenario));
  }
  return *model_;
}

void ModelService::fail(const std::string& op, Status status, int occurrence) {
  const simulator::FaultSpec fault{op, status, occurrence, Throw::kNothing};
  if (model_) model_->plan(fault);
  faults_.push_back(fault);
}

void ModelService::raise(const std::string& op, Throw kind, int occurrence) {
  const simulator::FaultSpec fault{op, 0, occurrence, kind};
  if (model_) model_->plan(fault);
  faults_.push_back(fault);
}

void ModelService::answer(const std::string& op, Status status) {
  fail(op, status, simulator::FaultSpec::kEveryOccurrence);
}

std::vector<ModelService::Call> ModelService::calls() const {
  std::vector<Call> calls;
  if (!model_) return calls;
  for (const simulator::RecordEntry& entry : model_->record()) {
    if (!isCall(entry)) continue;
    // The text is the call's name with its arguments in parentheses.
    const std::size_t open = entry.call.size() + 1;
    calls.push_back({entry.call, entry.text.substr(open, entry.text.size() - open - 1)});
  }
  return calls;
}

std::vector<std::string> ModelService::log(const std::string& omit) const {
  std::vector<std::string> lines;
  for (const Call& call : calls()) {
    if (omit.empty() || call.op.find(omit) == std::string::npos) lines.push_back(call.text());
  }
  return lines;
}

std::vector<std::string> ModelService::logSince(std::size_t first) const {
  const std::vector<std::string> all = log();
  return {all.begin() + static_cast<std::ptrdiff_t>(std::min(first, all.size())), all.end()};
}

int ModelService::count(const std::string& op) const {
  const std::vector<Call> all = calls();
  return static_cast<int>(
      std::count_if(all.begin(), all.end(), [&](const Call& call) { return call.op == op; }));
}

std::vector<std::string> ModelService::entries(const std::string& call) const {
  std::vector<std::string> found;
  if (!model_) return found;
  for (const simulator::RecordEntry& entry : model_->record()) {
    if (entry.call == call) found.push_back(entry.text);
  }
  return found;
}

std::vector<std::string> ModelService::breaches() const { return entries("Breach"); }

std::vector<std::string> ModelService::misuses() const { return entries("Misuse"); }

simulator::Ledger ModelService::ledger() const {
  return model_ ? model_->ledger() : simulator::Ledger{};
}

std::vector<simulator::Volume> ModelService::volumesNamed(std::vector<std::u16string> names) {
  std::vector<simulator::Volume> volumes;
  for (std::u16string& name : names) volumes.push_back({std::move(name), {}, std::nullopt});
  return volumes;
}

}  // namespace frostcap::test
