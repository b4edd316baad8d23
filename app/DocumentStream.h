// A model document opened as a stream of nodes (libxml2's reader): the file is parsed as it is
// read, so that a document of any size is never held in memory. No network access, no external
// entities and no entity substitution; the first error the parser reports is kept, with its
// line, for the message.
#pragma once

#include <libxml/xmlreader.h>

#include <memory>
#include <string>

namespace knncli {

class DocumentStream {
public:
    // Opens `path`; throws ModelDocumentError when it cannot be opened.
    explicit DocumentStream(const std::string& path);
    ~DocumentStream();
    DocumentStream(const DocumentStream&) = delete;
    DocumentStream& operator=(const DocumentStream&) = delete;

    xmlTextReaderPtr Reader() const { return reader_.get(); }
    // The parser's first error ("line N: what"), or empty.
    const std::string& Error() const { return *error_; }

private:
    std::unique_ptr<std::string> error_;  // where the error handler writes; never moves
    std::unique_ptr<xmlTextReader, decltype(&xmlFreeTextReader)> reader_;
};

// The text of a libxml2 string; empty for none.
inline std::string NodeText(const xmlChar* text) {
    return text != nullptr ? reinterpret_cast<const char*>(text) : "";
}

}  // namespace knncli
