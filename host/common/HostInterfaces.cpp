// Out-of-line destructors of the host's abstract classes: defining them here anchors their
// vtables and type information in this library, so that a component and a host that both
// use them agree on one definition (dynamic_cast and exceptions across libraries rely on it).
#include "HostInterfaces.h"

#include "IVelAlgorithm.h"
#include "ProgressReport.h"
#include "Record.h"

namespace VelCommon_940 {

Record::~Record() = default;
ProgressReport::~ProgressReport() = default;
RecordSource::~RecordSource() = default;
ProgressSink::~ProgressSink() = default;
InterruptChecker::~InterruptChecker() = default;
IVelAlgorithm::~IVelAlgorithm() = default;
IVelFactory::~IVelFactory() = default;

}  // namespace VelCommon_940
