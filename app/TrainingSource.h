// The training records, handed to the component as it pulls them: each record is read from the
// file, converted and handed over, and only the facts that the summary and the scoring need
// are kept (LoadedData without values). The file is never held in memory, and the component's
// prepared table is the only copy of the data.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "Data.h"
#include "HostInterfaces.h"
#include "Progress.h"
#include "Record.h"

namespace knncli {

class TrainingSource : public VelCommon_940::RecordSource {
public:
    // Opens `path` ("-": standard input) and reads its header: throws as DataReader.
    // `interrupted` is asked every few thousand records.
    TrainingSource(std::string path, const AnalysisSettings& settings, ConsoleProgress& progress,
                   std::function<bool()> interrupted);
    ~TrainingSource() override;

    // Ready when nothing has been read yet; otherwise a file is opened again (standard input
    // cannot be, and false is returned).
    bool Reset() override;
    // The next record, or null at the end of the file. What stops the reading (an error in the
    // file, an interruption) is kept for Finish, and the component gets a record without values,
    // which it refuses: the build stops there.
    const VelCommon_940::Record* Next() override;

    // After the build: throws what stopped the reading, reads the records the component did
    // not ask for (a build may stop early), so that an error anywhere in the file is found
    // and the counts cover the whole file, and returns the facts of the file.
    LoadedData Finish();

private:
    // Throws CliError(kExitInterrupted) when the run is asked to stop.
    void CheckInterruption() const;

    std::string path_;
    const AnalysisSettings& settings_;
    ConsoleProgress& progress_;
    std::function<bool()> interrupted_;
    std::unique_ptr<DataReader> reader_;
    uint64_t size_ = 0;  // of a regular file, for the progress bar; 0 when unknown
    bool fresh_ = true;  // nothing has been read since the file was opened
    bool exhausted_ = false;
    std::exception_ptr error_;
    VelCommon_940::Record record_;
    const VelCommon_940::Record refused_;
};

}  // namespace knncli
