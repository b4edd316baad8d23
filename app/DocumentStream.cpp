#include "DocumentStream.h"

#include "ModelDocument.h"

namespace knncli {

namespace {

#if LIBXML_VERSION >= 21200
void OnError(void* context, const xmlError* error) {
#else
void OnError(void* context, xmlErrorPtr error) {
#endif
    auto* message = static_cast<std::string*>(context);
    if (!message->empty() || error == nullptr) {
        return;
    }
    std::string text = error->message != nullptr ? error->message : "unknown error";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    *message = (error->line > 0 ? "line " + std::to_string(error->line) + ": " : "") + text;
}

}  // namespace

DocumentStream::DocumentStream(const std::string& path)
    : error_(std::make_unique<std::string>()),
      reader_(xmlReaderForFile(path.c_str(), nullptr, XML_PARSE_NONET), xmlFreeTextReader) {
    if (reader_ == nullptr) {
        throw ModelDocumentError("cannot open " + path);
    }
    xmlTextReaderSetStructuredErrorHandler(reader_.get(), OnError, error_.get());
}

DocumentStream::~DocumentStream() = default;

}  // namespace knncli
