// The zip component: owns the loaded extraction library (libdunzip), holds
// the extraction settings, fills the parameter block from them and calls
// the library's entry. No widgets: the two messages the component can
// raise (a library that didn't load, an lpsz property assigned directly)
// are shown by the GUI (archive/DescriptionImport.h).
#pragma once

#include "common/AppError.h"
#include "platform/dunzip/UnzipBlock.h"

#include <QObject>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>

class QIODevice;

// The stream error of TLPStr::ReadFromStream ("Line too long").
class StreamError : public AppError
{
public:
    using AppError::AppError;
};

// A small set of enumeration members, stored as a bit mask (bit n = member n).
template <typename E, int N> class TSmallSet
{
public:
    TSmallSet() = default;
    TSmallSet(std::initializer_list<E> members)
    {
        for (E m : members)
            Include(m);
    }
    bool Contains(E m) const { return (m_bits >> int(m)) & 1u; }
    void Include(E m)
    {
        if (int(m) >= 0 && int(m) < N)
            m_bits |= 1u << int(m);
    }
    void Exclude(E m)
    {
        if (int(m) >= 0 && int(m) < N)
            m_bits &= ~(1u << int(m));
    }
    void Clear() { m_bits = 0; }
    bool IsEmpty() const { return m_bits == 0; }
    uint16_t Mask() const { return uint16_t(m_bits); }
    bool operator==(const TSmallSet&) const = default;

private:
    uint32_t m_bits = 0;
};

enum TUnzipFlag {
    FreshenFlag,
    UpdateFlag,
    OverWriteFlag,
    QuietFlag,
    TestFlag,
    NoDirectoryNamesFlag,
    RecurseFlag,
    NoDirectoryItemsFlag,
    bDiagnostic,
    bLF2CRLFFlag,
    DecryptFlag
};
using TUnzipFlags = TSmallSet<TUnzipFlag, 11>;

enum TUnzipSubOption {
    USO_OVERWRITE_RO,
    USO_MINORCANCEL,
    USO_EXTERNALPROG,
    USO_EXTPROGCANCEL,
    USO_IGNORELONGNAMES,
    USO_MANGLELONGNAMES
};
using TUnzipSubOptions = TSmallSet<TUnzipSubOption, 6>;

// An owned, zero-terminated 8-bit text. With a fixed capacity the buffer
// stays and texts are cut to capacity - 1 characters; without one each text
// gets a buffer of exactly its length + 1.
class TLPStr
{
public:
    // 0: no buffer and no fixed capacity; above 0: that fixed capacity.
    explicit TLPStr(uint16_t size = 0);
    virtual ~TLPStr();
    TLPStr(const TLPStr&) = delete;
    TLPStr& operator=(const TLPStr&) = delete;

    // Empties the text (fixed capacity: first character zero; otherwise the
    // buffer is released).
    virtual void ClearText();
    // Copies the text into the caller's buffer. A null buffer gets a new one
    // (new[]; the caller deletes it): an exact copy, or 2 bytes holding an
    // empty text when there is no text. An existing buffer of `bufferSize`
    // bytes gets at most bufferSize - 1 characters and the zero.
    virtual void CopyTextTo(char*& buffer, std::size_t bufferSize = 0) const;
    // Reads at most the fixed capacity (else 32768) bytes; a stream that fills
    // the whole buffer throws StreamError "Line too long"; otherwise the
    // bytes read become the text.
    virtual void ReadFromStream(QIODevice& stream);
    // Writes the text without its zero; nothing when there is no text.
    virtual void WriteToStream(QIODevice& stream) const;
    // ClearText, then copy `text` in when given (nullptr: none).
    virtual void SetText(const char* text);
    void SetText(const QString& text); // Latin-1

    // The current text, or nullptr when there is no buffer.
    const char* Text() const { return m_text; }
    QString TextString() const;
    uint16_t Capacity() const { return m_capacity; }
    bool FixedCapacity() const { return m_fixed; }
    // 0 clears the fixed mark; the current capacity just marks it fixed; any
    // other size makes a buffer of that size holding the old text cut to
    // size - 1 characters, and marks it fixed.
    void SetCapacity(uint16_t size);

private:
    char* m_text = nullptr;
    uint16_t m_capacity = 0;
    bool m_fixed = false;
};

struct DZRename; // the library's rename record
using PDZRename = DZRename*;

using TStatusCallback = std::function<void(const char* szItem, int32_t Percent, bool& DoCancel)>;
using TMessageCallback =
    std::function<void(uint16_t MsgID, uint16_t mbType, int32_t p1, int32_t p2, const char* lpsz1,
                       const char* lpsz2, int32_t& RtnResult)>;
using TRenameCallback = std::function<void(PDZRename dzr)>;

// The base component: the four events the library's callbacks lead to.
class TDynaZip : public QObject
{
    Q_OBJECT
public:
    explicit TDynaZip(QObject* owner = nullptr) : QObject(owner) {}

    TStatusCallback OnMajorCallback;
    TStatusCallback OnMinorCallback;
    TMessageCallback OnMessageCallback;
    TRenameCallback OnRenameCallback;
};

enum class UnzipLoadState { Loaded, LibraryMissing, EntryMissing };

class TUnzipFile : public TDynaZip
{
    Q_OBJECT
public:
    // Loads the library from `libraryFolder` (default: the program's folder,
    // or an installed tree's private library folder: InstallLayout)
    // and looks up its entry "dunzip". Failure leaves the component unusable
    // (RunUnzip returns false) and is reported by LoadState/LoadFailureText;
    // the program shows it and ends (ExitIfUnzipUnavailable).
    explicit TUnzipFile(QObject* owner = nullptr, const QString& libraryFolder = QString());
    // Uses `entry` directly instead of loading the library.
    TUnzipFile(QObject* owner, DunzipEntry entry);
    ~TUnzipFile() override;

    UnzipLoadState LoadState() const { return m_loadState; }
    bool IsLoaded() const { return m_loadState == UnzipLoadState::Loaded; }
    // "Could not load DUNZIP32.DLL!", "Could not load dunzip function!", or "".
    QString LoadFailureText() const;
    // The library's file name in the program's folder.
    static QString LibraryFileName();

    // Calls the library with function `code` (1..9). True when it returned
    // 0; then ItemCount takes the block's count. Codes 0 and above 9 are
    // refused without a call.
    bool RunUnzip(int32_t code);

    // Fills `buffer` with the parameter block for function `code` in the
    // layout of `addressSize`-byte addresses (4 or 8), little-endian, every
    // other byte zero. False when the buffer is too small.
    bool FillCommandBlock(uint8_t* buffer, std::size_t size, std::size_t addressSize, int32_t code);

    int32_t LastResult() const { return m_lastResult; }
    int32_t IndexofItem() const { return m_indexOfItem; }
    void SetIndexofItem(int32_t value) { m_indexOfItem = value; }
    TUnzipFlags Options() const { return m_options; }
    void SetOptions(TUnzipFlags value) { m_options = value; }
    TUnzipSubOptions wUnzipSubOptions() const { return m_subOptions; }
    void SetwUnzipSubOptions(TUnzipSubOptions value) { m_subOptions = value; }
    int32_t ItemCount() const { return m_itemCount; }
    void SetItemCount(int32_t value) { m_itemCount = value; }

    TLPStr* lpszZipFile() const { return m_zipFile.get(); }
    TLPStr* lpszFileSpec() const { return m_fileSpec.get(); }
    TLPStr* lpszDestination() const { return m_destination.get(); }
    TLPStr* lpszDecryptCode() const { return m_decryptCode.get(); }
    TLPStr* lpszExtProgTitle() const { return m_extProgTitle.get(); }
    TLPStr* lpszReturnString() const { return m_returnString.get(); }
    // Assigning an object is refused: the information message below is shown
    // and the property keeps its own object. Set texts with SetText.
    void SetlpszZipFile(TLPStr* value);
    void SetlpszFileSpec(TLPStr* value);
    void SetlpszDestination(TLPStr* value);
    void SetlpszDecryptCode(TLPStr* value);
    void SetlpszExtProgTitle(TLPStr* value);
    void SetlpszReturnString(TLPStr* value);

    // Information messages of the component go through this hook, which the
    // GUI sets to ShowInformation (InstallUnzipMessageHook). Returns the old one.
    using InformationHook = std::function<void(const QString&)>;
    static InformationHook SetInformationHook(InformationHook hook);

    const UnzipCommandBlock& CommandBlock() const { return m_block; }

    static const char* const LibraryLoadFailure;
    static const char* const EntryLoadFailure;
    static const char* const LpstrAssignRefused;

private:
    void Init();
    void RefuseAssign();

    QString m_libraryPath; // empty when the entry was given directly
    DunzipEntry m_entry = nullptr;
    UnzipLoadState m_loadState = UnzipLoadState::LibraryMissing;

    int32_t m_lastResult = 0;
    int32_t m_indexOfItem = 0;
    TUnzipFlags m_options;
    TUnzipSubOptions m_subOptions;
    int32_t m_itemCount = 0;
    std::unique_ptr<TLPStr> m_zipFile;
    std::unique_ptr<TLPStr> m_fileSpec;
    std::unique_ptr<TLPStr> m_destination;
    std::unique_ptr<TLPStr> m_decryptCode;
    std::unique_ptr<TLPStr> m_extProgTitle;
    std::unique_ptr<TLPStr> m_returnString;
    // Copied into the block's last three fields; nothing sets them.
    int32_t m_values[3] = {0, 0, 0};
    UnzipCommandBlock m_block;
    std::unique_ptr<uint8_t[]> m_zipInfoBuffer;
};

// Size of the buffer whose address the block carries.
constexpr std::size_t ZipInfoBufferSize = 310;
