#include "archive/TUnzipFile.h"

#include "common/InstallLayout.h"

#include <QDir>
#include <QIODevice>
#include <QLibrary>
#include <QtDebug>

#include <bit>
#include <cstring>
#include <map>
#include <string>

static_assert(std::endian::native == std::endian::little,
              "the parameter block is little-endian and filled in place");

// ---------------------------------------------------------------- TLPStr

namespace
{
// Longest text a buffer with a 16-bit capacity can hold.
constexpr std::size_t MaxLPStrText = 0xFFFF - 1;
constexpr qint64 UnfixedStreamLimit = 32768;
} // namespace

TLPStr::TLPStr(uint16_t size)
{
    if (size > 0)
        SetCapacity(size);
}

TLPStr::~TLPStr()
{
    delete[] m_text;
}

void TLPStr::ClearText()
{
    if (m_fixed) {
        if (m_text)
            m_text[0] = '\0';
        return;
    }
    delete[] m_text;
    m_text = nullptr;
    m_capacity = 0;
}

void TLPStr::CopyTextTo(char*& buffer, std::size_t bufferSize) const
{
    const char* text = m_text ? m_text : "";
    const std::size_t len = std::strlen(text);
    if (!buffer) {
        if (!m_text) {
            buffer = new char[2]{'\0', '\0'};
            return;
        }
        buffer = new char[len + 1];
        std::memcpy(buffer, text, len + 1);
        return;
    }
    if (bufferSize == 0)
        return;
    const std::size_t n = std::min(len, bufferSize - 1);
    std::memcpy(buffer, text, n);
    buffer[n] = '\0';
}

void TLPStr::ReadFromStream(QIODevice& stream)
{
    const qint64 limit = (m_fixed && m_capacity > 0) ? qint64(m_capacity) : UnfixedStreamLimit;
    QByteArray bytes(limit, '\0');
    const qint64 got = stream.read(bytes.data(), limit);
    if (got >= limit)
        throw StreamError(QStringLiteral("Line too long"));
    bytes.truncate(got < 0 ? 0 : got);
    SetText(bytes.constData());
}

void TLPStr::WriteToStream(QIODevice& stream) const
{
    if (m_text)
        stream.write(m_text, qint64(std::strlen(m_text)));
}

void TLPStr::SetText(const char* text)
{
    // The text may be our own buffer: take it before clearing.
    const std::string copy = text ? std::string(text) : std::string();
    ClearText();
    if (!text)
        return;
    if (m_fixed) {
        if (!m_text || m_capacity == 0)
            return;
        const std::size_t n = std::min<std::size_t>(copy.size(), m_capacity - 1u);
        std::memcpy(m_text, copy.data(), n);
        m_text[n] = '\0';
        return;
    }
    // A text beyond what a 16-bit capacity can describe is cut, so the
    // capacity always matches the buffer.
    const std::size_t n = std::min(copy.size(), MaxLPStrText);
    m_text = new char[n + 1];
    std::memcpy(m_text, copy.data(), n);
    m_text[n] = '\0';
    m_capacity = uint16_t(n + 1);
}

void TLPStr::SetText(const QString& text)
{
    const QByteArray bytes = text.toLatin1();
    SetText(bytes.constData());
}

QString TLPStr::TextString() const
{
    return m_text ? QString::fromLatin1(m_text) : QString();
}

void TLPStr::SetCapacity(uint16_t size)
{
    if (size == 0) {
        m_fixed = false;
        return;
    }
    if (size == m_capacity) {
        m_fixed = true;
        return;
    }
    char* buffer = new (std::nothrow) char[size];
    if (!buffer)
        return;
    std::memset(buffer, 0, size);
    if (m_text) {
        const std::size_t n = std::min<std::size_t>(std::strlen(m_text), size - 1u);
        std::memcpy(buffer, m_text, n);
    }
    delete[] m_text;
    m_text = buffer;
    m_capacity = size;
    m_fixed = true;
}

// ---------------------------------------------------------------- TUnzipFile

const char* const TUnzipFile::LibraryLoadFailure = "Could not load DUNZIP32.DLL!";
const char* const TUnzipFile::EntryLoadFailure = "Could not load dunzip function!";
const char* const TUnzipFile::LpstrAssignRefused =
    "Cannot Directly assign a value to type LPSTR.  Use SetText";

namespace
{

TUnzipFile::InformationHook& InformationHookSlot()
{
    static TUnzipFile::InformationHook hook;
    return hook;
}

// The library calls back with the component as its user value.
int32_t DZ_CALLBACK MinorStatus(const char* item, int32_t percent, void* user)
{
    auto* self = static_cast<TUnzipFile*>(user);
    bool cancel = false;
    if (self && self->OnMinorCallback)
        self->OnMinorCallback(item, percent, cancel);
    return cancel ? 1 : 0;
}

int32_t DZ_CALLBACK MajorStatus(const char* item, int32_t percent, void* user)
{
    auto* self = static_cast<TUnzipFile*>(user);
    bool cancel = false;
    if (self && self->OnMajorCallback)
        self->OnMajorCallback(item, percent, cancel);
    return cancel ? 1 : 0;
}

int32_t DZ_CALLBACK MessageDisplay(uint32_t msgId, uint32_t mbType, int32_t p1, int32_t p2,
                                   const char* lpsz1, const char* lpsz2, void* user)
{
    auto* self = static_cast<TUnzipFile*>(user);
    int32_t result = 0;
    if (self && self->OnMessageCallback)
        self->OnMessageCallback(uint16_t(msgId), uint16_t(mbType), p1, p2, lpsz1, lpsz2, result);
    return result;
}

int32_t DZ_CALLBACK Rename(void* dzr, void* user)
{
    auto* self = static_cast<TUnzipFile*>(user);
    if (self && self->OnRenameCallback)
        self->OnRenameCallback(static_cast<PDZRename>(dzr));
    return 0;
}

// The library and its entry are held once per process (per file): every
// component using it counts as a user; the last one unloads it.
struct LoadedLibrary {
    std::unique_ptr<QLibrary> library;
    bool loaded = false;
    DunzipEntry entry = nullptr;
    int users = 0;
};

std::map<QString, LoadedLibrary>& HeldLibraries()
{
    static std::map<QString, LoadedLibrary> libraries;
    return libraries;
}

void Put(uint8_t* buffer, std::size_t offset, uint64_t value, std::size_t bytes)
{
    for (std::size_t i = 0; i < bytes; ++i)
        buffer[offset + i] = uint8_t(value >> (8 * i));
}

uint64_t AddressOf(const void* p)
{
    return uint64_t(reinterpret_cast<uintptr_t>(p));
}

template <typename F> uint64_t AddressOfFunction(F f)
{
    return uint64_t(reinterpret_cast<uintptr_t>(reinterpret_cast<void*>(f)));
}

} // namespace

QString TUnzipFile::LibraryFileName()
{
#ifdef _WIN32
    return QStringLiteral("dunzip.dll");
#else
    return QStringLiteral("libdunzip.so");
#endif
}

TUnzipFile::TUnzipFile(QObject* owner, const QString& libraryFolder) : TDynaZip(owner)
{
    // By default beside the program (the build tree), else in an installed
    // tree's private library folder.
    QString folder = libraryFolder.isEmpty()
                         ? InstallLayout::OfThisProgram().LibraryFolder(LibraryFileName())
                         : libraryFolder;
    if (!folder.endsWith(u'/'))
        folder += u'/';
    m_libraryPath = folder + LibraryFileName();
    LoadedLibrary& held = HeldLibraries()[m_libraryPath];
    if (!held.library)
        held.library = std::make_unique<QLibrary>(m_libraryPath);
    if (!held.loaded) {
        // load() counts this holder's use of the library even when another
        // part of the process loaded it already.
        held.loaded = held.library->load();
        if (held.loaded)
            held.entry = reinterpret_cast<DunzipEntry>(held.library->resolve("dunzip"));
    }
    if (!held.loaded) {
        m_loadState = UnzipLoadState::LibraryMissing;
    } else {
        m_entry = held.entry;
        m_loadState = m_entry ? UnzipLoadState::Loaded : UnzipLoadState::EntryMissing;
    }
    ++held.users;
    Init();
}

TUnzipFile::TUnzipFile(QObject* owner, DunzipEntry entry) : TDynaZip(owner), m_entry(entry)
{
    m_loadState = entry ? UnzipLoadState::Loaded : UnzipLoadState::EntryMissing;
    Init();
}

void TUnzipFile::Init()
{
    m_zipFile = std::make_unique<TLPStr>(0);
    m_fileSpec = std::make_unique<TLPStr>(0);
    m_destination = std::make_unique<TLPStr>(0);
    m_decryptCode = std::make_unique<TLPStr>(0);
    m_extProgTitle = std::make_unique<TLPStr>(0);
    m_returnString = std::make_unique<TLPStr>(0);
    m_zipInfoBuffer = std::make_unique<uint8_t[]>(ZipInfoBufferSize);
    std::memset(&m_block, 0, sizeof m_block);
    m_options.Clear();
}

TUnzipFile::~TUnzipFile()
{
    m_entry = nullptr;
    if (m_libraryPath.isEmpty())
        return;
    auto& libraries = HeldLibraries();
    auto it = libraries.find(m_libraryPath);
    if (it == libraries.end() || --it->second.users > 0)
        return;
    // The last component of this library is gone: unload it.
    if (it->second.loaded)
        it->second.library->unload();
    libraries.erase(it);
}

QString TUnzipFile::LoadFailureText() const
{
    switch (m_loadState) {
    case UnzipLoadState::Loaded:
        return QString();
    case UnzipLoadState::LibraryMissing:
        return QString::fromLatin1(LibraryLoadFailure);
    case UnzipLoadState::EntryMissing:
        return QString::fromLatin1(EntryLoadFailure);
    }
    return QString();
}

bool TUnzipFile::FillCommandBlock(uint8_t* buffer, std::size_t size, std::size_t addressSize,
                                  int32_t code)
{
    if (!buffer || (addressSize != 4 && addressSize != 8) || size < UnzipBlockSize(addressSize))
        return false;
    const std::size_t blockSize = UnzipBlockSize(addressSize);
    std::memset(buffer, 0, blockSize);
    auto put = [&](UnzipField field, uint64_t value) {
        Put(buffer, UnzipFieldOffset(field, addressSize), value,
            UnzipFieldSize(field, addressSize));
    };
    auto text = [](const TLPStr& s) { return AddressOf(s.Text()); };
    const uint64_t self = AddressOf(this);

    put(UnzipField::StructSize, blockSize);
    put(UnzipField::Index, uint32_t(m_indexOfItem));
    put(UnzipField::ZipInfo, AddressOf(m_zipInfoBuffer.get()));
    put(UnzipField::Value1, uint32_t(m_values[0]));
    put(UnzipField::Value2, uint32_t(m_values[1]));
    put(UnzipField::Value3, uint32_t(m_values[2]));
    put(UnzipField::MinorStatus, AddressOfFunction(&MinorStatus));
    put(UnzipField::MinorUser, self);
    put(UnzipField::MajorStatus, AddressOfFunction(&MajorStatus));
    put(UnzipField::MajorUser, self);
    put(UnzipField::MessageDisplay, AddressOfFunction(&MessageDisplay));
    put(UnzipField::MessageUser, self);
    put(UnzipField::RenameProc, AddressOfFunction(&Rename));
    put(UnzipField::RenameUser, self);

    const std::pair<TUnzipFlag, UnzipField> flags[] = {
        {FreshenFlag, UnzipField::FreshenFlag},
        {UpdateFlag, UnzipField::UpdateFlag},
        {OverWriteFlag, UnzipField::OverWriteFlag},
        {QuietFlag, UnzipField::QuietFlag},
        {TestFlag, UnzipField::TestFlag},
        {NoDirectoryNamesFlag, UnzipField::NoDirectoryNamesFlag},
        {RecurseFlag, UnzipField::RecurseFlag},
        {NoDirectoryItemsFlag, UnzipField::NoDirectoryItemsFlag},
        {bDiagnostic, UnzipField::Diagnostic},
        {bLF2CRLFFlag, UnzipField::LF2CRLF},
        {DecryptFlag, UnzipField::DecryptFlag},
    };
    for (const auto& [flag, field] : flags)
        put(field, m_options.Contains(flag) ? 1 : 0);
    put(UnzipField::SubOptions, m_subOptions.Mask());

    put(UnzipField::ZipFile, text(*m_zipFile));
    put(UnzipField::FileSpec, text(*m_fileSpec));
    put(UnzipField::Destination, text(*m_destination));
    put(UnzipField::DecryptCode, text(*m_decryptCode));
    put(UnzipField::ExtProgTitle, text(*m_extProgTitle));
    put(UnzipField::ReturnString, text(*m_returnString));
    put(UnzipField::Count, uint32_t(m_itemCount));

    put(UnzipField::Function, uint32_t(code));
    return true;
}

bool TUnzipFile::RunUnzip(int32_t code)
{
    if (code <= 0 || code > 9)
        return false;
    if (code == DZ_NAME_TEXT) {
        // The library writes up to ItemCount characters and a zero. A count
        // whose buffer size doesn't fit 16 bits would leave the text without
        // a buffer of that size: refuse instead of letting it overrun.
        if (m_itemCount < 0 || m_itemCount > 0xFFFE)
            return false;
        m_returnString->SetCapacity(uint16_t(m_itemCount + 1));
    }
    if (!m_entry)
        return false;
    FillCommandBlock(reinterpret_cast<uint8_t*>(&m_block), sizeof m_block, sizeof(void*), code);
    m_lastResult = m_entry(&m_block);
    if (m_lastResult != 0)
        return false;
    m_itemCount = m_block.Count;
    return true;
}

TUnzipFile::InformationHook TUnzipFile::SetInformationHook(InformationHook hook)
{
    InformationHook old = std::move(InformationHookSlot());
    InformationHookSlot() = std::move(hook);
    return old;
}

void TUnzipFile::RefuseAssign()
{
    const QString text = QString::fromLatin1(LpstrAssignRefused);
    if (InformationHookSlot())
        InformationHookSlot()(text);
    else
        qWarning().noquote() << text;
}

void TUnzipFile::SetlpszZipFile(TLPStr*)
{
    RefuseAssign();
}
void TUnzipFile::SetlpszFileSpec(TLPStr*)
{
    RefuseAssign();
}
void TUnzipFile::SetlpszDestination(TLPStr*)
{
    RefuseAssign();
}
void TUnzipFile::SetlpszDecryptCode(TLPStr*)
{
    RefuseAssign();
}
void TUnzipFile::SetlpszExtProgTitle(TLPStr*)
{
    RefuseAssign();
}
void TUnzipFile::SetlpszReturnString(TLPStr*)
{
    RefuseAssign();
}
