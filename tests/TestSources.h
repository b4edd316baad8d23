// In-memory host objects for tests: record sources, an interrupt checker and a progress sink.
#pragma once

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "HostInterfaces.h"
#include "Record.h"

namespace KNN_800::test {

// Delivers a fixed list of records; `resetResult` false makes Reset refuse.
class VectorRecordSource : public VelCommon_940::RecordSource {
public:
    VectorRecordSource() = default;
    VectorRecordSource(std::initializer_list<std::vector<double>> rows) {
        for (const std::vector<double>& row : rows) {
            Add(row);
        }
    }
    void Add(std::vector<double> values) { records.emplace_back(std::move(values)); }

    bool Reset() override {
        next = 0;
        ++resets;
        return resetResult;
    }
    const VelCommon_940::Record* Next() override {
        return next < records.size() ? &records[next++] : nullptr;
    }

    std::vector<VelCommon_940::Record> records;
    bool resetResult = true;
    int resets = 0;

private:
    size_t next = 0;
};

// Delivers `count` records of `width` values, the i-th filled by `fill(i, values)`, without
// keeping them all in memory.
class GeneratedRecordSource : public VelCommon_940::RecordSource {
public:
    using Fill = std::function<void(int, std::vector<double>&)>;
    GeneratedRecordSource(int count, int width, Fill fill)
        : count(count),
          record(std::vector<double>(static_cast<size_t>(width))),
          fill(std::move(fill)) {}

    bool Reset() override {
        next = 0;
        return true;
    }
    const VelCommon_940::Record* Next() override {
        if (next >= count) {
            return nullptr;
        }
        fill(next++, record.Values());
        return &record;
    }

private:
    int count;
    int next = 0;
    VelCommon_940::Record record;
    Fill fill;
};

// Answers "go on" to the first `callsBeforeStop` questions and "stop" from then on.
class CountdownChecker : public VelCommon_940::InterruptChecker {
public:
    explicit CountdownChecker(int callsBeforeStop) : callsBeforeStop(callsBeforeStop) {}
    bool IsInterrupted() override { return ++calls > callsBeforeStop; }

    int calls = 0;

private:
    int callsBeforeStop;
};

// Keeps, per notification, the report's value for `measure` (by default the stage code).
class CountingSink : public VelCommon_940::ProgressSink {
public:
    explicit CountingSink(std::string measure = "ReportStage") : measure(std::move(measure)) {}
    void Notify(VelCommon_940::ProgressReport* report) override {
        values.push_back(report->DiscreteMeasure(measure));
    }

    std::vector<int> values;

private:
    std::string measure;
};

}  // namespace KNN_800::test
