#include "jpeg/JpegCoefficientFile.h"

#include "base/FileIO.h"
#include "jpeg/JpegTurboSupport.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace {

// More scans than any encoder writes (a full successive-approximation
// script for four components has a few dozen); a file with more is refused
// rather than letting it grow the script without end.
constexpr int kMaxScans = 256;

constexpr int kDcLimit = 2047;
constexpr int kAcLimit = 1023;

bool SameHuffmanTable(const JHUFF_TBL* table, const JHUFF_TBL* standard)
{
    if (table == nullptr || standard == nullptr)
        return false;
    int count = 0;
    for (int length = 1; length <= 16; ++length) {
        if (table->bits[length] != standard->bits[length])
            return false;
        count += table->bits[length];
    }
    return std::memcmp(table->huffval, standard->huffval, std::size_t(count)) == 0;
}

bool IsStandardHuffmanTable(const JHUFF_TBL* table, JHUFF_TBL* const* standardTables)
{
    return SameHuffmanTable(table, standardTables[0]) || SameHuffmanTable(table, standardTables[1]);
}

JpegResult TurboFailure(JpegStatus status, const JpegTurboErrorManager& errors) { return { status, errors.message }; }

} // namespace

struct CJpegCoefficientFile::Impl {
    JpegTurboErrorManager errors;
    jpeg_decompress_struct decompressor {};
    jpeg_progress_mgr progress {};
    bool created = false;
    jvirt_barray_ptr* coefficientArrays = nullptr;
    std::vector<std::vector<JBLOCKROW>> rows; // per component, per block row
    std::array<jpeg_scan_info, kMaxScans> scans {};
    int scanCount = 0;
    std::size_t inputSize = 0;

    Impl() = default;
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;
    ~Impl()
    {
        if (created)
            jpeg_destroy_decompress(&decompressor);
    }

    // Called by jpeg_read_coefficients before each piece of input it takes;
    // after a new start-of-scan header the decompressor holds that scan's
    // parameters, which make up the file's scan script.
    static void RecordScan(j_common_ptr object)
    {
        auto* decompressor = reinterpret_cast<j_decompress_ptr>(object);
        Impl& self = *static_cast<Impl*>(decompressor->client_data);
        if (decompressor->input_scan_number <= self.scanCount)
            return;
        if (self.scanCount == kMaxScans)
            FailTurboCall(object, "The JPEG file has too many scans");
        jpeg_scan_info& scan = self.scans[std::size_t(self.scanCount++)];
        scan.comps_in_scan = decompressor->comps_in_scan;
        for (int i = 0; i < decompressor->comps_in_scan; ++i)
            scan.component_index[i] = decompressor->cur_comp_info[i]->component_index;
        scan.Ss = decompressor->Ss;
        scan.Se = decompressor->Se;
        scan.Ah = decompressor->Ah;
        scan.Al = decompressor->Al;
    }
};

// A compressor for one write, released however the write ends.
struct CompressorState {
    JpegTurboErrorManager errors;
    jpeg_compress_struct compressor {};
    JpegTurboMemoryDestination destination;
    bool created = false;

    CompressorState() = default;
    CompressorState(const CompressorState&) = delete;
    CompressorState& operator=(const CompressorState&) = delete;
    ~CompressorState()
    {
        if (created)
            jpeg_destroy_compress(&compressor);
    }
};

CJpegCoefficientFile::CJpegCoefficientFile() = default;

CJpegCoefficientFile::~CJpegCoefficientFile() = default;

void CJpegCoefficientFile::Clear()
{
    m_impl.reset();
    m_width = m_height = 0;
    m_components.clear();
    m_codingMode = CodingMode::BaselineStandardTables;
    m_restartInterval = 0;
    m_coefficientCount = 0;
}

bool CJpegCoefficientFile::IsLoaded() const { return m_impl != nullptr; }

JpegResult CJpegCoefficientFile::Read(const std::string& path)
{
    Clear();
    std::vector<std::uint8_t> contents;
    std::string error;
    if (!ReadWholeFile(path, contents, error))
        return { JpegStatus::CannotReadFile, error };
    return ReadMemory(contents);
}

JpegResult CJpegCoefficientFile::ReadMemory(std::span<const std::uint8_t> file, std::uint64_t maxCoefficients)
{
    Clear();
    std::unique_ptr<Impl> impl;
    try {
        impl = std::make_unique<Impl>();
    } catch (const std::bad_alloc&) {
        return { JpegStatus::OutOfMemory, {} };
    }
    Impl& state = *impl;
    state.inputSize = file.size();
    jpeg_decompress_struct& decompressor = state.decompressor;
    decompressor.err = InstallTurboErrorManager(state.errors);
    const bool read = RunTurboStep(state.errors, [&] {
        jpeg_create_decompress(&decompressor);
        state.created = true;
        decompressor.client_data = &state;
        jpeg_mem_src(&decompressor, file.data(), static_cast<unsigned long>(file.size()));
        jpeg_save_markers(&decompressor, JPEG_COM, 0xFFFF);
        for (int n = 0; n < 16; ++n)
            jpeg_save_markers(&decompressor, JPEG_APP0 + n, 0xFFFF);
        jpeg_read_header(&decompressor, TRUE);
    });
    if (!read)
        return TurboFailure(JpegStatus::TurboReadFailed, state.errors);
    // The header has sized every component; the arrays about to be taken
    // hold whole MCUs of them.
    std::uint64_t frameCoefficients = 0;
    for (int c = 0; c < decompressor.num_components; ++c) {
        const jpeg_component_info& info = decompressor.comp_info[c];
        const std::uint64_t across = (std::uint64_t(info.width_in_blocks) + unsigned(info.h_samp_factor) - 1)
            / unsigned(info.h_samp_factor) * unsigned(info.h_samp_factor);
        const std::uint64_t down = (std::uint64_t(info.height_in_blocks) + unsigned(info.v_samp_factor) - 1)
            / unsigned(info.v_samp_factor) * unsigned(info.v_samp_factor);
        frameCoefficients += across * down * DCTSIZE2;
    }
    if (frameCoefficients > maxCoefficients)
        return { JpegStatus::PictureTooLarge, {} };
    const bool decoded = RunTurboStep(state.errors, [&] {
        state.progress.progress_monitor = Impl::RecordScan;
        decompressor.progress = &state.progress;
        state.coefficientArrays = jpeg_read_coefficients(&decompressor);
    });
    if (!decoded)
        return TurboFailure(JpegStatus::TurboReadFailed, state.errors);

    // Size the model, refusing files whose coefficients one 32-bit index
    // cannot address (several gigapixels).
    std::uint64_t total = 0;
    std::vector<Component> components;
    try {
        components.resize(std::size_t(decompressor.num_components));
        state.rows.resize(components.size());
        for (std::size_t c = 0; c < components.size(); ++c) {
            const jpeg_component_info& info = decompressor.comp_info[c];
            Component& component = components[c];
            component.id = info.component_id;
            component.horizontalSampling = info.h_samp_factor;
            component.verticalSampling = info.v_samp_factor;
            component.quantizationTableId = info.quant_tbl_no;
            if (info.quant_table != nullptr)
                std::copy(std::begin(info.quant_table->quantval), std::end(info.quant_table->quantval),
                    component.quantization.begin());
            component.blocksAcross = info.width_in_blocks;
            component.blocksDown = info.height_in_blocks;
            if (total > std::numeric_limits<CoefficientIndex>::max())
                break;
            component.firstIndex = CoefficientIndex(total);
            total += std::uint64_t(info.width_in_blocks) * info.height_in_blocks * DCTSIZE2;
            state.rows[c].resize(info.height_in_blocks);
        }
    } catch (const std::bad_alloc&) {
        return { JpegStatus::OutOfMemory, {} };
    }
    if (total > std::numeric_limits<CoefficientIndex>::max())
        return { JpegStatus::PictureTooLarge, {} };

    // The coefficient arrays are all in memory (no backing store), so the
    // row pointers stay valid for the file's life.
    const bool mapped = RunTurboStep(state.errors, [&] {
        for (std::size_t c = 0; c < state.rows.size(); ++c) {
            for (JDIMENSION row = 0; row < JDIMENSION(state.rows[c].size()); ++row)
                state.rows[c][row] = (*decompressor.mem->access_virt_barray)(
                    reinterpret_cast<j_common_ptr>(&decompressor), state.coefficientArrays[c], row, 1, TRUE)[0];
        }
    });
    if (!mapped)
        return TurboFailure(JpegStatus::TurboReadFailed, state.errors);

    CodingMode mode = CodingMode::BaselineStandardTables;
    if (decompressor.arith_code) {
        mode = CodingMode::Arithmetic;
    } else if (decompressor.progressive_mode) {
        mode = CodingMode::Progressive;
    } else {
        // The standard tables, as libjpeg sets them for a new compressor.
        CompressorState standard;
        standard.compressor.err = InstallTurboErrorManager(standard.errors);
        bool sameTables = false;
        const bool compared = RunTurboStep(standard.errors, [&] {
            jpeg_create_compress(&standard.compressor);
            standard.created = true;
            standard.compressor.in_color_space = JCS_RGB;
            standard.compressor.input_components = 3;
            jpeg_set_defaults(&standard.compressor);
            sameTables = true;
            for (int c = 0; c < decompressor.num_components; ++c) {
                const jpeg_component_info& info = decompressor.comp_info[c];
                sameTables = sameTables
                    && IsStandardHuffmanTable(
                        decompressor.dc_huff_tbl_ptrs[info.dc_tbl_no], standard.compressor.dc_huff_tbl_ptrs)
                    && IsStandardHuffmanTable(
                        decompressor.ac_huff_tbl_ptrs[info.ac_tbl_no], standard.compressor.ac_huff_tbl_ptrs);
            }
        });
        if (!compared)
            return TurboFailure(JpegStatus::TurboReadFailed, standard.errors);
        mode = sameTables ? CodingMode::BaselineStandardTables : CodingMode::BaselineOptimizedTables;
    }

    m_impl = std::move(impl);
    m_width = decompressor.image_width;
    m_height = decompressor.image_height;
    m_components = std::move(components);
    m_codingMode = mode;
    m_restartInterval = decompressor.restart_interval;
    m_coefficientCount = CoefficientIndex(total);
    return {};
}

std::int16_t* CJpegCoefficientFile::Locate(CoefficientIndex index) const
{
    if (!m_impl || index >= m_coefficientCount)
        return nullptr;
    std::size_t c = m_components.size() - 1;
    while (index < m_components[c].firstIndex)
        --c;
    const Component& component = m_components[c];
    const std::uint32_t block = (index - component.firstIndex) / DCTSIZE2;
    const std::uint32_t row = block / component.blocksAcross;
    const std::uint32_t column = block % component.blocksAcross;
    return &m_impl->rows[c][row][column][index % DCTSIZE2];
}

std::int16_t CJpegCoefficientFile::GetCoefficient(CoefficientIndex index) const
{
    const std::int16_t* coefficient = Locate(index);
    return coefficient ? *coefficient : 0;
}

bool CJpegCoefficientFile::SetCoefficient(CoefficientIndex index, std::int16_t value)
{
    std::int16_t* coefficient = Locate(index);
    const int limit = index % DCTSIZE2 == 0 ? kDcLimit : kAcLimit;
    if (coefficient == nullptr || value > limit || value < -limit)
        return false;
    *coefficient = value;
    return true;
}

std::vector<CJpegCoefficientFile::CoefficientIndex> CJpegCoefficientFile::GetCarriers() const
{
    std::vector<CoefficientIndex> carriers;
    if (!m_impl)
        return carriers;
    // Counted first, so that the list is allocated once; both passes are
    // free of branches on the coefficients, which are zero or not at random.
    std::size_t count = 0;
    for (std::size_t c = 0; c < m_components.size(); ++c) {
        for (JBLOCKROW row : m_impl->rows[c]) {
            for (std::uint32_t column = 0; column < m_components[c].blocksAcross; ++column) {
                const JCOEF* block = row[column];
                for (int k = 1; k < DCTSIZE2; ++k)
                    count += block[k] != 0;
            }
        }
    }
    // One spare entry: every coefficient is stored, and kept by moving on.
    carriers.resize(count + 1);
    CoefficientIndex* next = carriers.data();
    for (std::size_t c = 0; c < m_components.size(); ++c) {
        CoefficientIndex index = m_components[c].firstIndex;
        for (JBLOCKROW row : m_impl->rows[c]) {
            for (std::uint32_t column = 0; column < m_components[c].blocksAcross; ++column, index += DCTSIZE2) {
                const JCOEF* block = row[column];
                for (int k = 1; k < DCTSIZE2; ++k) {
                    *next = index + CoefficientIndex(k);
                    next += block[k] != 0;
                }
            }
        }
    }
    carriers.pop_back();
    return carriers;
}

JpegResult CJpegCoefficientFile::WriteMemory(std::vector<std::uint8_t>& file) const
{
    file.clear();
    if (!m_impl)
        return { JpegStatus::NothingToWrite, {} };
    Impl& source = *m_impl;
    std::unique_ptr<CompressorState> state;
    try {
        state = std::make_unique<CompressorState>();
    } catch (const std::bad_alloc&) {
        return { JpegStatus::OutOfMemory, {} };
    }
    jpeg_compress_struct& compressor = state->compressor;
    jpeg_decompress_struct& decompressor = source.decompressor;
    compressor.err = InstallTurboErrorManager(state->errors);
    // Room for a file the size of the input, so a write seldom grows.
    state->destination.initialCapacity = std::max<std::size_t>(source.inputSize + source.inputSize / 8, 1 << 16);
    // One interleaved scan of every component is what libjpeg writes by
    // default; any other script (progressive, or sequential in several
    // scans) is given to it.
    const bool defaultScript = source.scanCount == 1 && source.scans[0].comps_in_scan == decompressor.num_components
        && !decompressor.progressive_mode;
    const CodingMode mode = m_codingMode;
    const bool written = RunTurboStep(state->errors, [&] {
        jpeg_create_compress(&compressor);
        state->created = true;
        InstallTurboMemoryDestination(&compressor, state->destination);
        jpeg_copy_critical_parameters(&decompressor, &compressor);
        // The input's own APPn segments are copied below, so libjpeg must
        // not add a JFIF or Adobe segment of its own.
        compressor.write_JFIF_header = FALSE;
        compressor.write_Adobe_marker = FALSE;
        compressor.restart_interval = decompressor.restart_interval;
        compressor.optimize_coding = mode == CodingMode::BaselineOptimizedTables ? TRUE : FALSE;
        if (mode == CodingMode::Arithmetic) {
            compressor.arith_code = TRUE;
            std::memcpy(compressor.arith_dc_L, decompressor.arith_dc_L, sizeof compressor.arith_dc_L);
            std::memcpy(compressor.arith_dc_U, decompressor.arith_dc_U, sizeof compressor.arith_dc_U);
            std::memcpy(compressor.arith_ac_K, decompressor.arith_ac_K, sizeof compressor.arith_ac_K);
        }
        if (!defaultScript) {
            compressor.scan_info = source.scans.data();
            compressor.num_scans = source.scanCount;
        }
        jpeg_write_coefficients(&compressor, source.coefficientArrays);
        for (jpeg_saved_marker_ptr marker = decompressor.marker_list; marker != nullptr; marker = marker->next)
            jpeg_write_marker(&compressor, marker->marker, marker->data, marker->data_length);
        jpeg_finish_compress(&compressor);
    });
    if (!written)
        return TurboFailure(JpegStatus::TurboWriteFailed, state->errors);
    try {
        file.assign(state->destination.data, state->destination.data + state->destination.size);
    } catch (const std::bad_alloc&) {
        file.clear();
        return { JpegStatus::OutOfMemory, {} };
    }
    return {};
}

JpegResult CJpegCoefficientFile::Write(const std::string& path) const
{
    std::vector<std::uint8_t> file;
    if (JpegResult result = WriteMemory(file); !result.IsOk())
        return result;
    std::string error;
    if (!WriteFileAtomically(path, { std::span<const std::uint8_t>(file) }, error))
        return { JpegStatus::CannotWriteFile, error };
    return {};
}
