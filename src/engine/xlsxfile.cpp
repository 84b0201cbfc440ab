#include "engine/xlsxfile.h"

#include "platform/filenames.h"
#include "platform/outputtarget.h"
#include "platform/temporarystream.h"
#include "text/helperthread.h"
#include "text/utf8.h"

#include <QByteArray>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include <xlsxwriter.h>

struct XlsxFile::Handles {
    QByteArray helperFolder;             // the library may keep the pointer: it lives as long as the workbook
    std::atomic<int> writeError{0};      // the first write to one of the library's temporary files that failed
    std::atomic<bool> sheetClosed{true}; // the sheet's temporary file is closed (or was never opened)
    lxw_workbook *workbook = nullptr;
    lxw_worksheet *worksheet = nullptr;
    lxw_format *text = nullptr;
};

namespace {

/*
 * libxlsxwriter keeps process-wide state in a few places: the C library's gmtime() buffer when
 * it dates a workbook on closing, the generator of its temporary files' names. Workbooks are
 * therefore started and closed one at a time; the rows of several may be written at once.
 */
std::mutex g_startAndClose;

/* The workbooks being written: the folder that takes each one's temporary files, and where their write errors go. */
struct OpenWorkbook {
    const QByteArray *helperFolder;
    std::atomic<int> *writeError;
    /* Set while the sheet is added: the next temporary file is the sheet's, and this tells when it is closed. */
    std::atomic<bool> *sheetClosed;
};
std::mutex g_openWorkbooksLock;
std::vector<OpenWorkbook> g_openWorkbooks;

/* Whether the library failed in a file operation, so that errno holds the system's reason. */
bool isFileError(lxw_error result)
{
    return result == LXW_ERROR_CREATING_XLSX_FILE || result == LXW_ERROR_CREATING_TMPFILE
           || result == LXW_ERROR_READING_TMPFILE || result == LXW_ERROR_ZIP_FILE_OPERATION
           || result == LXW_ERROR_ZIP_FILE_ADD || result == LXW_ERROR_ZIP_CLOSE;
}

} // namespace

/*
 * libxlsxwriter makes every temporary file it writes through this function: the sheet's rows
 * as they come, and each part of the workbook as it is packed. The library's own version
 * never checks that the bytes reached the disk, so a disk that fills up would cut the sheet
 * short and the library would pack what is left without an error. Defined in the program, it
 * takes the place of the library's own (the library calls it through the dynamic linker), and
 * a write that fails is kept for the workbook whose folder the file lies in.
 */
extern "C" FILE *lxw_tmpfile(char *tmpdir)
{
    std::atomic<int> *writeError = nullptr;
    std::atomic<bool> *closed = nullptr;
    if (tmpdir) {
        const std::lock_guard lock(g_openWorkbooksLock);
        for (OpenWorkbook &workbook : g_openWorkbooks) {
            if (*workbook.helperFolder == tmpdir) {
                writeError = workbook.writeError;
                closed = std::exchange(workbook.sheetClosed, nullptr);
            }
        }
    }
    return openTemporaryStream(tmpdir, writeError, closed);
}

XlsxFile::XlsxFile(const QString &path, int widthColumns, const QString &helperFolder)
    : m_handles(std::make_unique<Handles>())
{
    const std::lock_guard lock(g_startAndClose);
    m_stagingName = path;
    m_handles->helperFolder = fileNameBytes(helperFolder);
    {
        const std::lock_guard listLock(g_openWorkbooksLock);
        g_openWorkbooks.push_back({&m_handles->helperFolder, &m_handles->writeError, nullptr});
    }
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE; // rows go to disk as they come: memory stays flat
    options.tmpdir = m_handles->helperFolder.data();
    m_handles->workbook = workbook_new_opt(fileNameBytes(path).constData(), &options);
    if (!m_handles->workbook) {
        m_error = QStringLiteral("The workbook could not be started.");
        return;
    }
    // In constant memory the worksheet opens its temporary file at once: this is where an
    // unusable helper folder shows.
    clearSystemError();
    expectSheetFile();
    m_handles->worksheet = workbook_add_worksheet(m_handles->workbook, nullptr);
    if (!m_handles->worksheet) {
        const int systemError = lastSystemError();
        m_error = systemError ? systemErrorText(systemError) : QStringLiteral("The worksheet could not be started.");
        return;
    }
    m_handles->text = workbook_add_format(m_handles->workbook);
    if (!m_handles->text) {
        m_error = QString::fromUtf8(lxw_strerror(LXW_ERROR_MEMORY_MALLOC_FAILED));
        return;
    }
    format_set_num_format(m_handles->text, "@");
    // The used columns carry the text format themselves, so an empty field needs no cell of its
    // own: most fields of an address book are empty, and a blank cell costs as much to write
    // as a filled one.
    if (widthColumns > 0) {
        const lxw_error result
            = worksheet_set_column(m_handles->worksheet, 0, lxw_col_t(widthColumns - 1), 40, m_handles->text);
        if (result != LXW_NO_ERROR)
            m_error = QString::fromUtf8(lxw_strerror(result));
    }
}

void XlsxFile::expectSheetFile()
{
    const std::lock_guard listLock(g_openWorkbooksLock);
    for (OpenWorkbook &workbook : g_openWorkbooks) {
        if (workbook.writeError == &m_handles->writeError)
            workbook.sheetClosed = &m_handles->sheetClosed;
    }
}

XlsxFile::~XlsxFile()
{
    if (m_handles->workbook) {
        // Abandoned: packing it would take as long as its rows took. The library frees its
        // memory but leaves the sheet's temporary file open, so that is closed here first (a
        // file without a name, which goes with it).
        if (lxw_worksheet *const worksheet = m_handles->worksheet;
            worksheet && worksheet->optimize_tmpfile && !m_handles->sheetClosed) {
            std::fclose(worksheet->optimize_tmpfile);
            worksheet->optimize_tmpfile = nullptr;
            worksheet->file = nullptr;
        }
        lxw_workbook_free(m_handles->workbook);
    }
    const std::lock_guard listLock(g_openWorkbooksLock);
    std::erase_if(g_openWorkbooks,
                  [this](const OpenWorkbook &workbook) { return workbook.writeError == &m_handles->writeError; });
}

bool XlsxFile::isStarted() const
{
    return m_handles->workbook && m_handles->worksheet && m_handles->text && m_error.isEmpty();
}

namespace {

/* Whether byte is a control character that XML cannot carry, or that its readers turn into another (CR). */
bool isEscapedControl(unsigned char byte)
{
    return byte < 0x20 && byte != '\t' && byte != '\n';
}

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

/* The length of the character at text[i] that is written as an escape (U+FFFE, U+FFFF, a control), or 0. */
qsizetype escapedCharacterAt(QByteArrayView text, qsizetype i)
{
    const auto byte = static_cast<unsigned char>(text[i]);
    if (isEscapedControl(byte))
        return 1;
    if (byte == 0xEF && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0xBF
        && (static_cast<unsigned char>(text[i + 2]) & 0xFE) == 0xBE)
        return 3;
    return 0;
}

/*
 * Whether the "_" at text[i] would start the format's escape for a reader: "_x", four
 * hexadecimal digits, then "_" or a character that is itself written as an escape. Readers
 * decode from left to right, so escaping every such "_" keeps them in step.
 */
bool startsEscapeLookalike(QByteArrayView text, qsizetype i)
{
    if (i + 6 >= text.size() || (text[i + 1] != 'x' && text[i + 1] != 'X'))
        return false;
    for (qsizetype k = i + 2; k < i + 6; ++k) {
        if (!isHexDigit(text[k]))
            return false;
    }
    return text[i + 6] == '_' || escapedCharacterAt(text, i + 6) > 0;
}

bool needsEscapes(QByteArrayView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if ((c == '_' && startsEscapeLookalike(text, i)) || escapedCharacterAt(text, i) > 0)
            return true;
    }
    return false;
}

void appendEscape(QByteArray &out, uint code)
{
    char escape[8];
    std::snprintf(escape, sizeof escape, "_x%04X_", code);
    out.append(escape, 7);
}

} // namespace

QByteArray XlsxFile::cellText(QByteArrayView utf8)
{
    QByteArray out;
    out.reserve(utf8.size() + 16);
    for (qsizetype i = 0; i < utf8.size();) {
        const char c = utf8[i];
        if (c == '_' && startsEscapeLookalike(utf8, i)) {
            appendEscape(out, '_');
            ++i;
            continue;
        }
        const qsizetype escaped = escapedCharacterAt(utf8, i);
        if (escaped == 1) {
            appendEscape(out, static_cast<unsigned char>(c));
        } else if (escaped == 3) {
            appendEscape(out, 0xFFFE | (static_cast<unsigned char>(utf8[i + 2]) & 1));
        } else {
            out.append(c);
            ++i;
            continue;
        }
        i += escaped;
    }
    return out;
}

bool XlsxFile::mayNeedEscapes(QByteArrayView utf8)
{
    // Without an early exit the loop is vectorised, which over a whole row is quicker than
    // stopping at the first find. U+FFFE and U+FFFF start with the byte 0xEF.
    unsigned char found = 0;
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        found |= (byte == '_') | ((byte < 0x20) & (byte != '\t') & (byte != '\n')) | (byte == 0xEF);
    }
    return found != 0;
}

qsizetype XlsxFile::writtenLength(QByteArrayView utf8)
{
    if (!mayNeedEscapes(utf8) || !needsEscapes(utf8))
        return utf8::utf16Length(utf8);
    return utf8::utf16Length(cellText(utf8));
}

qsizetype XlsxFile::writtenLength(QStringView text)
{
    return writtenLength(text.toUtf8());
}

void XlsxRowBatch::appendCell(lxw_col_t column, QByteArrayView utf8)
{
    // The library takes text up to a NUL and escapes control characters itself, but leaves text
    // that looks like an escape alone: such cells are written with every escape in place.
    m_cells.push_back({m_texts.size(), column});
    if (needsEscapes(utf8))
        m_texts.append(XlsxFile::cellText(utf8));
    else
        m_texts.append(utf8);
    m_texts.append('\0');
}

void XlsxRowBatch::clear()
{
    m_texts.resize(0);
    m_cells.clear();
    m_rowEnds.clear();
}

void XlsxRowBatch::appendRow(std::span<const QByteArrayView> cells)
{
    for (size_t column = 0; column < cells.size(); ++column) {
        if (!cells[column].isEmpty())
            appendCell(lxw_col_t(column), cells[column]);
    }
    m_rowEnds.push_back(m_cells.size());
}

bool XlsxFile::addRow(const XlsxRowBatch &batch, qsizetype r)
{
    if (!isStarted())
        return false;
    const size_t begin = r == 0 ? 0 : batch.m_rowEnds[size_t(r - 1)];
    for (size_t cell = begin; cell < batch.m_rowEnds[size_t(r)]; ++cell) {
        const XlsxRowBatch::Cell &text = batch.m_cells[cell];
        const lxw_error result = worksheet_write_string(m_handles->worksheet, m_nextRow, text.column,
                                                        batch.m_texts.constData() + text.text, m_handles->text);
        if (result != LXW_NO_ERROR) {
            m_error = QString::fromUtf8(lxw_strerror(result));
            return false;
        }
    }
    ++m_nextRow;
    // The library writes a row to its temporary file once the next one starts.
    if (const int error = m_handles->writeError.load(std::memory_order_relaxed)) {
        m_error = systemErrorText(error);
        return false;
    }
    return true;
}

XlsxFile::SheetSample XlsxFile::sheetSample() const
{
    SheetSample sample;
    FILE *sheet = m_handles->worksheet ? m_handles->worksheet->optimize_tmpfile : nullptr;
    if (!sheet || std::fflush(sheet) != 0)
        return sample;
    const long end = std::ftell(sheet);
    if (end <= 0)
        return sample;
    sample.sheetSize = end;
    sample.start.resize(qsizetype(std::min<long>(end, 1024 * 1024)));
    std::rewind(sheet);
    sample.start.resize(qsizetype(std::fread(sample.start.data(), 1, size_t(sample.start.size()), sheet)));
    std::fseek(sheet, end, SEEK_SET);
    return sample;
}

/*
 * The size the packed file will have: the sheet's XML, shrunk as much as its first megabyte
 * shrinks under the same compression, plus the workbook's other, small parts.
 */
qint64 XlsxFile::expectedFileSize(const SheetSample &sample)
{
    constexpr qint64 kOtherParts = 8 * 1024;
    if (sample.start.isEmpty())
        return kOtherParts;
    const double ratio = double(qCompress(sample.start).size()) / double(sample.start.size());
    return qint64(double(sample.sheetSize) * ratio) + kOtherParts;
}

bool XlsxFile::close(const std::function<void(qint64 written, qint64 expected)> &packing)
{
    // A workbook that failed is not packed: the destructor frees it.
    if (!isStarted())
        return false;
    lxw_workbook *const workbook = std::exchange(m_handles->workbook, nullptr);
    // The system's error belongs to the thread that closes the workbook: it is read there.
    struct Closed {
        lxw_error result = LXW_NO_ERROR;
        int systemError = 0;
    };
    // The library packs the sheet's rows out of their temporary file and closes it then; when
    // packing fails before the sheet's turn (the output file or a part of the package cannot be
    // made), it frees the workbook and leaves that file open, holding its disk space until the
    // program ends. It is closed here then.
    FILE *const sheetRows = m_handles->worksheet->optimize_tmpfile;
    const auto closeWorkbook = [workbook, sheetRows, &sheetClosed = m_handles->sheetClosed] {
        const std::lock_guard lock(g_startAndClose);
        clearSystemError();
        const lxw_error result = workbook_close(workbook);
        const int systemError = lastSystemError();
        if (sheetRows && !sheetClosed)
            std::fclose(sheetRows);
        return Closed{result, systemError};
    };
    Closed closed;
    if (packing) {
        // The sample is read before the library takes the sheet's file over, and compressed
        // while the library packs the workbook on the helper thread. Should the system refuse
        // that thread, the workbook is packed here at once and no progress comes.
        const SheetSample sample = sheetSample();
        std::mutex lock;
        std::condition_variable packed;
        bool done = false;
        HelperThread closing([&] {
            const Closed result = closeWorkbook();
            const std::lock_guard guard(lock);
            closed = result;
            done = true;
            packed.notify_one();
        });
        const qint64 expected = expectedFileSize(sample);
        std::unique_lock guard(lock);
        while (!packed.wait_for(guard, std::chrono::milliseconds(50), [&done] { return done; })) {
            guard.unlock();
            packing(fileSizeAt(m_stagingName), expected);
            guard.lock();
        }
        guard.unlock();
        closing.join();
    } else {
        closed = closeWorkbook();
    }
    if (const int error = m_handles->writeError.load()) {
        // Some of what the library packed never reached its temporary file.
        m_error = systemErrorText(error);
        return false;
    }
    if (closed.result != LXW_NO_ERROR) {
        // The library's text names its own step ("Zip generic error ZIP_ERRNO ..."); the
        // system's reason (a full disk, a folder that went away) tells the user what happened.
        m_error = isFileError(closed.result) && closed.systemError != 0
                      ? systemErrorText(closed.systemError)
                      : QString::fromUtf8(lxw_strerror(closed.result));
        return false;
    }
    return true;
}
