#include "core/refresh.h"

#include "core/convert.h"
#include "core/gauge_scale.h"
#include "core/low_space.h"
#include "core/traffic.h"
#include "core/volume_text.h"

namespace koravex {

namespace {

constexpr double kKilobyte = 1024.0;
constexpr double kMegabyte = 1048576.0;

// In use = total - available; a backend reporting more available than total shows 0 in use
// rather than a wrapped 64-bit count.
GaugeSetting memoryGauge(std::uint64_t total, std::uint64_t avail) {
    const std::uint64_t used = avail > total ? 0 : total - avail;
    return gaugeFor(static_cast<double>(total), static_cast<double>(used), kKilobyte);
}

void writeMemory(DisplayModel& m, const MemoryStatus& mem, UnitScale unit) {
    m.gauge2 = memoryGauge(mem.totalPhys, mem.availPhys);
    m.gauge3 = memoryGauge(mem.totalPageFile, mem.availPageFile);
    m.gauge4 = memoryGauge(mem.totalVirtual, mem.availVirtual);

    const std::string_view total = totalMemoryMask(unit);
    const std::string_view avail = availableMemoryMask(unit);
    m.label2 = formatMask(total, scaleBytes(mem.totalPhys, unit));
    m.label3 = formatMask(avail, scaleBytes(mem.availPhys, unit));
    m.label4 = formatMask(total, scaleBytes(mem.totalPageFile, unit));
    m.label5 = formatMask(avail, scaleBytes(mem.availPageFile, unit));
    m.label6 = formatMask(total, scaleBytes(mem.totalVirtual, unit));
    m.label7 = formatMask(avail, scaleBytes(mem.availVirtual, unit));
}

void writeDriveSpace(DisplayModel& m, const std::optional<DriveSpace>& space, UnitScale unit) {
    if (!space) {
        m.label9 = kCannotDetermine;
        m.label10 = kCannotDetermine;
        m.gauge1 = GaugeSetting{0, 0};  // an empty pie, not the previous drive's picture
        return;
    }
    const std::string_view mask = driveMask(unit);
    const double divisor = unitDivisor(unit);
    m.label9 =
        "Свободно на диске: " + formatMask(mask, static_cast<double>(space->totalFree) / divisor);
    m.label10 = "Всего на диске " + formatMask(mask, static_cast<double>(space->total) / divisor);
    // 64-bit subtraction; the two counts are untrusted, so it must not overflow.
    const double used = static_cast<double>(space->total) - static_cast<double>(space->totalFree);
    m.gauge1 = gaugeFor(static_cast<double>(space->total), used, kMegabyte);
}

void writeVolume(DisplayModel& m, const std::optional<VolumeInfo>& volume) {
    if (!volume) {
        m.label11 = kCannotDetermine;
        m.label12 = kCannotDetermine;
        m.label13 = kCannotDetermine;
        return;
    }
    m.label11 = "Файловая система: " + std::string(cutAtNul(volume->fileSystem));
    m.label12 = std::string(cutAtNul(volume->name));
    m.label13 = "Серийный номер: " + serialHex(volume->serial);
}

void watchDrives(DisplayModel& m, Probes& probes, const RefreshInputs& in) {
    for (const WatchedDrive& drive : in.drives) {
        if (!drive.ticked)
            continue;
        if (!probes.volumeInformation(drive.root))
            continue;  // not ready: skipped silently
        try {
            if (auto text = checkLowSpace(probes, drive.root, in.alertOn, in.threshold))
                m.alerts.push_back(LowSpaceAlert{drive.root, std::move(*text)});
        } catch (const ConversionError& e) {
            // The remaining checks of this run are skipped; monitoring goes on.
            m.error = e.what();
            return;
        }
    }
}

std::vector<TrafficRow> trafficRows(Probes& probes, UnitScale unit) {
    std::vector<TrafficRow> rows;
    if (const auto table = probes.interfaceTable()) {
        rows.reserve(table->size());
        for (const InterfaceRow& row : *table)
            rows.push_back(interfaceCells(row, unit));
    }
    return rows;  // a failed query empties the table
}

std::string shownRoot(const RefreshInputs& in) {
    return in.driveLetter != '\0' ? std::string{in.driveLetter, ':', '\\'} : std::string();
}

// Every drive this refresh reads, named once, so that they are asked together.
std::vector<std::string> roundRoots(const RefreshInputs& in) {
    std::vector<std::string> roots;
    if (in.figures.drive)
        roots.push_back(shownRoot(in));
    if (in.watch) {
        for (const WatchedDrive& drive : in.drives) {
            if (drive.ticked)
                roots.push_back(drive.root);
        }
    }
    return roots;
}

}  // namespace

DisplayModel runRefresh(Probes& probes, const RefreshInputs& inputs) {
    DisplayModel m;
    probes.beginDriveRound(roundRoots(inputs));
    if (inputs.figures.memory)
        writeMemory(m, probes.memoryStatus(), inputs.unit);
    if (inputs.figures.drive) {
        const std::string root = shownRoot(inputs);
        m.label8 = "Диск: " + root;
        writeDriveSpace(m, probes.driveSpace(root), inputs.unit);
        writeVolume(m, probes.volumeInformation(root));
    }
    if (inputs.watch)
        watchDrives(m, probes, inputs);
    if (inputs.figures.interfaces)
        m.traffic = trafficRows(probes, inputs.unit);
    return m;
}

}  // namespace koravex
