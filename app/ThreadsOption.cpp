#include "ThreadsOption.h"

#include <climits>
#include <sstream>

#include "Errors.h"
#include "VelSettingsParser.h"
#include "knn/settings/SettingsKeys.h"

namespace knncli {

namespace {

// Whether the document gives the key Threads (of any type); false when it cannot be parsed,
// which the component then reports.
bool SetsThreads(const std::string& text) {
    std::istringstream stream(text);
    VelXML_940::VelSettingsParser parser;
    if (!parser.ParseToDOM(stream).IsOK()) {
        return false;
    }
    int value = INT_MIN;
    return !parser.GetParameter(KNN_800::Key::Threads, value, nullptr).IsOK() || value != INT_MIN;
}

}  // namespace

std::string SettingsWithThreads(const std::string& text, std::optional<int> threads) {
    if (SetsThreads(text)) {
        if (threads) {
            throw CliError(kExitUsage,
                           "--threads is given and the settings set Threads too; leave out one "
                           "of them (see knn help run)");
        }
        return text;
    }
    const std::string parameter = std::string("<Parameter key=\"") + KNN_800::Key::Threads +
                                  "\" type=\"int\" value=\"" + std::to_string(threads.value_or(0)) +
                                  "\"/>";
    // On the line of the closing tag, so that the component's messages keep their line numbers.
    std::string result = text;
    const size_t closing = result.rfind("</Parameters>");
    if (closing != std::string::npos) {
        return result.insert(closing, parameter);
    }
    const size_t empty = result.rfind("<Parameters/>");
    if (empty != std::string::npos) {
        return result.replace(empty, 13, "<Parameters>" + parameter + "</Parameters>");
    }
    const size_t end = result.rfind("</Settings>");
    if (end != std::string::npos) {
        return result.insert(end, "<Parameters>" + parameter + "</Parameters>");
    }
    return result;
}

}  // namespace knncli
