// libFuzzer target for component detection and the installation commands:
// ParseUsbKeyIds and FileVersionMeets against the C library's own number
// reading, DetectComponents over a probe answering from the input, and the
// jobs and command lines the queue makes of the detected items. Beyond the
// sanitizers it checks the state words, that the probe is never asked about
// an empty device list, and how placeholders expand.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "components/detection.h"
#include "components/install.h"

namespace {

using namespace wayfarer;
namespace cs = wayfarer::component_state;

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// strtoll over a terminated copy, clamped to a 32-bit long's range.
int64_t ReadClamped(std::string_view piece, int base) {
    const std::string copy(piece);
    errno = 0;
    const long long value = std::strtoll(copy.c_str(), nullptr, base);
    return std::clamp<long long>(value, INT32_MIN, INT32_MAX);
}

void CheckUsbKeyIds(std::string_view text) {
    std::vector<uint32_t> expected;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        const size_t end = comma == std::string_view::npos ? text.size() : comma;
        const int64_t value = ReadClamped(text.substr(start, end - start), 0);
        if (value != 0) {
            expected.push_back(static_cast<uint32_t>(static_cast<int32_t>(value)));
        }
        if (comma == std::string_view::npos) {
            break;
        }
        start = comma + 1;
    }
    Require(ParseUsbKeyIds(text) == expected);
}

void CheckFileVersion(std::string_view required, uint32_t ms, uint32_t ls) {
    uint32_t parts[4] = {0, 0, 0, 0};
    size_t start = 0;
    for (uint32_t& part : parts) {
        if (start > required.size()) {
            break;
        }
        const size_t dot = std::min(required.find('.', start), required.size());
        part = static_cast<uint32_t>(ReadClamped(required.substr(start, dot - start), 10)) & 0xFFFFu;
        start = dot + 1;
    }
    const bool expected = ms >= (parts[0] << 16 | parts[1]) && ls >= (parts[2] << 16 | parts[3]);
    const bool meets = FileVersionMeets(required, ms, ls);
    Require(meets == expected);
    // Each half is compared on its own, and nothing is newer than the top.
    Require(meets == (FileVersionMeets(required, ms, UINT32_MAX) && FileVersionMeets(required, UINT32_MAX, ls)));
    Require(FileVersionMeets(required, UINT32_MAX, UINT32_MAX));
}

class FuzzedProbe final : public DetectionProbe {
public:
    explicit FuzzedProbe(FuzzedDataProvider& data) : data_(data) {}

    bool AddonDisabled(const std::string&) override { return data_.ConsumeBool(); }
    bool ClassRegistered(const std::string&) override { return data_.ConsumeBool(); }
    bool RegistryPathExists(const std::string&) override { return data_.ConsumeBool(); }
    bool FileRuleExists(const std::string&) override { return data_.ConsumeBool(); }
    bool FileEntryOk(const FileRef&) override { return data_.ConsumeBool(); }
    bool UsbDevicePresent(const std::vector<uint32_t>& ids) override {
        Require(!ids.empty());
        Require(std::find(ids.begin(), ids.end(), 0u) == ids.end());
        return data_.ConsumeBool();
    }

private:
    FuzzedDataProvider& data_;
};

std::string Text(FuzzedDataProvider& data) { return data.ConsumeRandomLengthString(48); }

ComponentItem MakeItem(FuzzedDataProvider& data) {
    ComponentItem item;
    item.state = data.ConsumeIntegral<uint32_t>();  // overwritten by detection
    item.detects.resize(data.ConsumeIntegralInRange<size_t>(0, 5));
    for (DetectRule& rule : item.detects) {
        const size_t kind = data.ConsumeIntegralInRange<size_t>(0, 7);
        constexpr const char* kTypes[] = {"clsid", "reg", "file", "usbkey", "service", "", "USBKEY"};
        rule.type = kind < 7 ? kTypes[kind] : Text(data);
        rule.text = Text(data);
    }
    item.installers.resize(data.ConsumeIntegralInRange<size_t>(0, 2));
    for (InstallerRef& installer : item.installers) {
        installer.url = Text(data);
        installer.command = Text(data);
        installer.local = Text(data);
    }
    item.files.resize(data.ConsumeIntegralInRange<size_t>(0, 3));
    for (FileRef& file : item.files) {
        file.remote = data.ConsumeBool() ? Text(data) : std::string();
        file.local = Text(data);
        file.install = data.ConsumeBool() ? std::string("regserver") : Text(data);
    }
    return item;
}

bool HasRule(const ComponentItem& item, std::string_view type) {
    return std::any_of(item.detects.begin(), item.detects.end(),
                       [type](const DetectRule& rule) { return rule.type == type; });
}

void CheckStateWord(const ComponentItem& item) {
    const uint32_t code = item.state & cs::kCodeMask;
    const uint32_t flags = item.state & ~cs::kCodeMask;
    const bool installable =
        !item.installers.empty() ||
        std::any_of(item.files.begin(), item.files.end(), [](const FileRef& f) { return !f.remote.empty(); });
    Require(code == cs::kCurrent || code == (installable ? cs::kUpgradable : cs::kOutdated) ||
            code == (installable ? cs::kInstallable : cs::kMissing));
    Require((flags & cs::kDisabled) == 0 || HasRule(item, "clsid"));
    Require((flags & cs::kKeyAbsent) == 0 || HasRule(item, "usbkey"));
    if (item.detects.empty() && item.files.empty()) {
        Require(item.state == cs::kCurrent);
    }
}

size_t CountPlaceholders(std::string_view text) {
    size_t count = 0;
    for (size_t at = text.find("%1"); at != std::string_view::npos; at = text.find("%1", at + 2)) {
        ++count;
    }
    return count;
}

// Every "%1" becomes the quoted file, whatever the file holds: the line
// grows by the file's length once per placeholder.
void CheckCommand(const std::string& templ, const std::string& file) {
    const std::string line = BuildInstallCommand(templ, file);
    const size_t placeholders = CountPlaceholders(templ);
    Require(line.size() == BuildInstallCommand(templ, std::string()).size() + placeholders * file.size());
    if (placeholders == 0) {
        Require(line == templ);
    }
}

void CheckJobs(const ComponentItem& item) {
    const std::vector<InstallJob> jobs = QueueItemJobs(item);
    const uint32_t code = item.state & cs::kCodeMask;
    if (code == cs::kCurrent || code == cs::kNotDetected) {
        Require(jobs.empty());
        return;
    }
    if (!item.installers.empty()) {
        Require(jobs.size() == 1);
        Require(jobs[0].commandFile == item.installers[0].local && jobs[0].install.empty());
    } else {
        Require(jobs.size() == item.files.size());
    }
    for (const InstallJob& job : jobs) {
        CheckCommand(job.command, job.commandFile);
        const std::optional<std::string> line = JobCommandLine(job);
        if (job.install.empty()) {
            Require(line && *line == BuildInstallCommand(job.command, job.commandFile));
        } else if (job.install == "regserver" && !job.installFile.empty()) {
            Require(line && line->find(job.installFile) != std::string::npos);
        } else {
            Require(!line);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider provider(data, size);

    CheckUsbKeyIds(provider.ConsumeRandomLengthString(128));
    const uint32_t ms = provider.ConsumeIntegral<uint32_t>();
    const uint32_t ls = provider.ConsumeIntegral<uint32_t>();
    CheckFileVersion(provider.ConsumeRandomLengthString(64), ms, ls);
    const std::string templ = provider.ConsumeRandomLengthString(64);
    CheckCommand(templ, provider.ConsumeRandomLengthString(32));

    std::vector<ComponentItem> items(provider.ConsumeIntegralInRange<size_t>(0, 4));
    for (ComponentItem& item : items) {
        item = MakeItem(provider);
    }
    FuzzedProbe probe(provider);
    DetectComponents(items, probe);
    for (ComponentItem& item : items) {
        CheckStateWord(item);
        CheckJobs(item);
        // Any other state word, not-detected included.
        item.state = provider.PickValueInArray<uint32_t>({cs::kNotDetected, cs::kCurrent, cs::kOutdated,
                                                          cs::kInstallable, cs::kKeyAbsent | cs::kMissing});
        CheckJobs(item);
    }
    return 0;
}
