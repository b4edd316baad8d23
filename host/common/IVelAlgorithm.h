// The host's view of an analysis component: a factory that reads settings into an algorithm,
// and the algorithm that the host builds, scores with and exports.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "HostInterfaces.h"
#include "Record.h"
#include "VelExport.h"
#include "VelStatus.h"

namespace VelCommon_940 {

class VEL_API IVelAlgorithm {
public:
    virtual ~IVelAlgorithm();
    virtual VelStatus Build(RecordSource& source) = 0;
    virtual bool IsBuilt() = 0;
    // Scores one record; `options` is null (the defaults) or a ScoreOptions. On success
    // `result` holds one vector per target (see the component's documentation for the layout).
    virtual VelStatus Score(const Record& record, void* options,
                            std::vector<std::vector<double>>& result) = 0;
    virtual VelStatus Export(std::ostream& out, const ExportOptions* options) = 0;
    virtual VelStatus GetStatus() = 0;
    virtual void SetProgressSink(ProgressSink* sink) = 0;
    virtual void SetInterruptChecker(InterruptChecker* checker) = 0;
    virtual void Interrupt() = 0;
    // Feature importances supplied by the host, used at the next Build instead of computing
    // them (the component's documentation says when it uses them and how it checks them); an
    // empty list has them computed again.
    virtual void SetModelValues(std::vector<double> values) = 0;
    virtual std::string GetVersion() = 0;
    virtual const std::vector<VelStatus>* GetWarnings() = 0;
    virtual void Display(std::ostream& out) = 0;
};

class VEL_API IVelFactory {
public:
    virtual ~IVelFactory();
    // Reads a settings document and returns a new algorithm owned by the caller, or null
    // when the settings cannot be used (GetStatus then tells why).
    virtual IVelAlgorithm* CreateVelAlgorithm(std::istream& settings) = 0;
    virtual VelStatus GetStatus() const = 0;
};

// Signature of the one function a component library exports.
using GetVelFactoryFunction = IVelFactory* (*)();

}  // namespace VelCommon_940
