#include "platform/PlatFileKinds.h"

#include <strings.h>

#include <cstring>

namespace qelt::plat {

namespace {

// One declaration: extensions and parents are space-separated lists.
struct Row {
    const char* identifier;
    const char* description;
    const char* extensions;
    const char* parents;
};

constexpr Row kTable[] = {
    {"public.item", "item", "", ""},
    {"public.content", "content", "", ""},
    {"public.composite-content", "composite content", "", "public.content"},
    {"public.data", "data", "", "public.item"},
    {"public.directory", "directory", "", "public.item"},
    {"public.folder", "folder", "", "public.directory"},
    {"public.volume", "volume", "", "public.folder"},
    {"public.symlink", "symbolic link", "", "public.item"},
    {"public.executable", "executable", "", "public.item"},
    {"public.unix-executable", "Unix executable", "", "public.data public.executable"},
    {"public.object-code", "object code", "o", "public.data"},
    {"public.text", "text", "", "public.data public.content"},
    {"public.plain-text", "plain text", "txt text", "public.text"},
    {"public.utf8-plain-text", "Unicode (UTF-8) text", "", "public.plain-text"},
    {"public.utf16-plain-text", "Unicode (UTF-16) text", "", "public.plain-text"},
    {"public.utf16-external-plain-text", "Unicode (UTF-16) text with byte-order mark", "", "public.plain-text"},
    {"public.delimited-values-text", "delimited values text", "", "public.text"},
    {"public.comma-separated-values-text", "comma-separated values", "csv", "public.delimited-values-text"},
    {"public.tab-separated-values-text", "tab-separated values", "tsv", "public.delimited-values-text"},
    {"public.log", "log file", "log", "public.plain-text"},
    {"public.rtf", "rich text", "rtf", "public.text"},
    {"public.html", "HTML text", "html htm", "public.text"},
    {"public.xml", "XML text", "xml", "public.text"},
    {"public.xhtml", "XHTML text", "xhtml xht", "public.xml"},
    {"public.json", "JSON text", "json", "public.text"},
    {"public.yaml", "YAML text", "yaml yml", "public.text"},
    {"public.css", "CSS style sheet", "css", "public.text"},
    {"public.source-code", "source code", "", "public.plain-text"},
    {"public.c-source", "C source", "c", "public.source-code"},
    {"public.c-header", "C header", "h", "public.source-code"},
    {"public.c-plus-plus-source", "C++ source", "cp cpp c++ cc cxx", "public.source-code"},
    {"public.c-plus-plus-header", "C++ header", "hpp h++ hxx hh", "public.source-code"},
    {"public.objective-c-source", "Objective-C source", "m", "public.source-code"},
    {"public.assembly-source", "assembly source", "s", "public.source-code"},
    {"public.script", "script", "", "public.source-code"},
    {"public.shell-script", "shell script", "sh command", "public.script"},
    {"public.python-script", "Python script", "py", "public.script"},
    {"public.ruby-script", "Ruby script", "rb rbw", "public.script"},
    {"public.perl-script", "Perl script", "pl pm", "public.script"},
    {"public.php-script", "PHP script", "php php3 php4 ph3 ph4 phtml", "public.script"},
    {"public.url", "URL", "", "public.data"},
    {"public.file-url", "file URL", "", "public.url"},
    {"public.image", "image", "", "public.data public.content"},
    {"public.jpeg", "JPEG image", "jpeg jpg jpe", "public.image"},
    {"public.png", "PNG image", "png", "public.image"},
    {"public.tiff", "TIFF image", "tiff tif", "public.image"},
    {"public.heic", "HEIC image", "heic", "public.image"},
    {"public.svg-image", "SVG image", "svg svgz", "public.image public.xml"},
    {"public.camera-raw-image", "camera raw image", "", "public.image"},
    {"public.audiovisual-content", "audiovisual content", "", "public.data public.content"},
    {"public.audio", "audio", "", "public.audiovisual-content"},
    {"public.mp3", "MP3 audio", "mp3", "public.audio"},
    {"public.aiff-audio", "AIFF audio", "aiff aif", "public.audio"},
    {"public.mpeg-4-audio", "MPEG-4 audio", "m4a", "public.audio"},
    {"public.movie", "movie", "", "public.audiovisual-content"},
    {"public.video", "video", "", "public.movie"},
    {"public.mpeg", "MPEG movie", "mpeg mpg", "public.movie"},
    {"public.mpeg-4", "MPEG-4 movie", "mp4 mpeg4", "public.movie"},
    {"public.avi", "AVI movie", "avi", "public.movie"},
    {"public.archive", "archive", "", "public.data"},
    {"public.zip-archive", "zip archive", "zip", "public.archive"},
    {"public.tar-archive", "tar archive", "tar", "public.archive"},
    {"public.disk-image", "disk image", "", "public.archive"},
    {"public.iso-image", "ISO disk image", "iso", "public.disk-image"},
    {"public.font", "font", "", "public.data"},
    {"public.truetype-font", "TrueType font", "ttf", "public.font"},
    {"public.opentype-font", "OpenType font", "otf", "public.font"},
    {"public.database", "database", "", "public.item"},
    {"public.calendar-event", "calendar event", "", "public.item"},
    {"public.contact", "contact", "", "public.item"},
    {"public.vcard", "vCard", "vcf vcard", "public.text public.contact"},
    {"public.message", "message", "", "public.item"},
    {"public.presentation", "presentation", "", "public.composite-content"},
    {"public.spreadsheet", "spreadsheet", "", "public.content"},
    {"public.3d-content", "3D content", "", "public.content"},
};

std::vector<std::string> Split(const char* list)
{
    std::vector<std::string> out;
    const char* at = list;
    while (*at != '\0') {
        const char* end = std::strchr(at, ' ');
        if (end == nullptr)
            end = at + std::strlen(at);
        if (end > at)
            out.emplace_back(at, end);
        at = (*end == ' ') ? end + 1 : end;
    }
    return out;
}

const Row* FindRow(const std::string& identifier)
{
    for (const Row& row : kTable)
        if (identifier == row.identifier)
            return &row;
    return nullptr;
}

}  // namespace

bool FindPublicKind(const std::string& identifier, PublicKindDeclaration& out)
{
    const Row* row = FindRow(identifier);
    if (row == nullptr)
        return false;
    out.identifier = row->identifier;
    out.description = row->description;
    out.extensions = Split(row->extensions);
    out.parents = Split(row->parents);
    return true;
}

std::string PublicKindForExtension(const std::string& extension)
{
    if (extension.empty())
        return {};
    for (const Row& row : kTable)
        for (const std::string& ext : Split(row.extensions))
            if (::strcasecmp(ext.c_str(), extension.c_str()) == 0)
                return row.identifier;
    return {};
}

bool PublicKindConformsTo(const std::string& identifier, const std::string& other)
{
    // Breadth first over the parents; the table has no cycles, and the
    // visited list keeps even a faulty one finite.
    std::vector<std::string> queue{identifier};
    for (size_t i = 0; i < queue.size() && i < 256; ++i) {
        if (queue[i] == other)
            return true;
        if (const Row* row = FindRow(queue[i]))
            for (std::string& parent : Split(row->parents))
                queue.push_back(std::move(parent));
    }
    return false;
}

}  // namespace qelt::plat
