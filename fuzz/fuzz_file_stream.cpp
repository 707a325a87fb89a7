// The file stream on arbitrary bytes: the input's content is written to a
// file and read back through VFileStream with reads, positions and lines
// driven by the input's first bytes, side by side with VConstPtrStream on
// the same bytes; both must give the same bytes, errors and positions. The
// reserved-character encoding of the content, decoded, gives it back.
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>

#include "files/IFileSystemObject.h"
#include "files/VConstPtrStream.h"
#include "files/VFile.h"
#include "files/VFileStream.h"
#include "fuzz/FuzzSupport.h"
#include "kernel/StStringConverter.h"

using namespace qelt;

namespace {

constexpr size_t kControlBytes = 16;

// The file the inputs are written to, in a folder of its own that goes away
// with the program.
struct InputFile {
    InputFile()
    {
        char pattern[] = "/tmp/qelt_fuzz_file_stream_XXXXXX";
        const char* made = ::mkdtemp(pattern);
        folder = made != nullptr ? made : "/tmp";
        path = folder + "/input";
    }
    ~InputFile()
    {
        ::unlink(path.c_str());
        ::rmdir(folder.c_str());
    }
    std::string folder, path;
};

const std::string& InputPath()
{
    static InputFile sInput;
    return sInput.path;
}

bool SameText(const VString& a, const VString& b)
{
    return a.GetLength() == b.GetLength() &&
           (a.GetLength() == 0 ||
            std::memcmp(a.GetCPointer(), b.GetCPointer(), static_cast<size_t>(a.GetLength()) * sizeof(UniChar)) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Setup();
    fuzz::Scope scope;
    fuzz::Bytes in(data, size);
    std::string control = in.Text(kControlBytes);
    std::string content = in.Rest();
    {
        std::ofstream out(InputPath(), std::ios::binary | std::ios::trunc);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
    }

    VString posix(InputPath().c_str());
    VRefPtr<VFile> file = AdoptRef(new VFile(VFilePath(posix, FPS_POSIX)));
    VFileStream stream(file.Get());
    if (!control.empty() && (control[0] & 1))
        stream.SetBufferSize(1 + static_cast<uint8_t>(control[0]) * 3);
    VConstPtrStream reference(content.data(), content.size());
    fuzz::Check(stream.OpenReading() == VE_OK, "the file opens");
    reference.OpenReading();
    fuzz::Check(stream.GetSize() == reference.GetSize(), "same size");

    const long long total = static_cast<long long>(content.size());
    std::string a, b;
    for (size_t i = 1; i < control.size(); ++i) {
        const uint8_t op = static_cast<uint8_t>(control[i]);
        const long long arg = op >> 2;
        VError ea = VE_OK, eb = VE_OK;
        switch (op & 3) {
        case 0: {
            unsigned long n = static_cast<unsigned long>((arg * 97) % (total + 20));
            a.assign(n, '\0');
            b.assign(n, '\1');
            unsigned long ca = 0, cb = 0;
            ea = stream.GetData(a.data(), n, &ca);
            eb = reference.GetData(b.data(), n, &cb);
            fuzz::Check(ca == cb && std::memcmp(a.data(), b.data(), ca) == 0, "reads give the same bytes");
            break;
        }
        case 1: {
            long long pos = (arg * (total + 10)) / 63;
            ea = stream.SetPos(pos);
            eb = reference.SetPos(pos);
            break;
        }
        case 2: {
            VString la, lb;
            ea = stream.GetTextLine(la, (arg & 1) != 0);
            eb = reference.GetTextLine(lb, (arg & 1) != 0);
            fuzz::Check(SameText(la, lb), "lines are the same");
            break;
        }
        default:
            ea = stream.SetPosByOffset(-arg);
            eb = reference.SetPosByOffset(-arg);
            break;
        }
        fuzz::Check(ea == eb, "same error");
        fuzz::Check(stream.GetPos() == reference.GetPos(), "same position");
        stream.ResetLastError();
        reference.ResetLastError();
    }
    stream.CloseReading();
    reference.CloseReading();

    VString text;
    fuzz::MakeText(reinterpret_cast<const uint8_t*>(content.data()), content.size(), text);
    VString encoded = EncodeReservedFileCharacters(text);
    fuzz::Check(SameText(DecodeReservedFileCharacters(encoded), text), "reserved characters round-trip");
    return 0;
}
