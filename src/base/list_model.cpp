#include "base/list_model.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>

namespace torvane {

// ============================================================================
// Cell readings
// ============================================================================
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string_view SkipBlanks(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && IsBlank(s[i])) ++i;
    return s.substr(i);
}

bool AllDigits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (!IsDigit(c)) return false;
    return true;
}

// The hex digits of a cell that reads as a hexadecimal number (blanks and an
// 0x prefix removed), or nothing. No sign: "-5" is not a hexadecimal number.
std::optional<std::string_view> HexDigits(std::string_view s) {
    s = SkipBlanks(s);
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s.remove_prefix(2);
    if (s.empty()) return std::nullopt;
    for (char c : s)
        if (HexValue(c) < 0) return std::nullopt;
    return s;
}

// Numbers of any length, digit strings compared by value.
int CompareDigitStrings(std::string_view a, std::string_view b) {
    auto strip = [](std::string_view s) {
        std::size_t i = 0;
        while (i + 1 < s.size() && s[i] == '0') ++i;
        return s.substr(i);
    };
    a = strip(a);
    b = strip(b);
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const int x = HexValue(a[i]), y = HexValue(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

std::optional<double> DecimalValue(std::string_view s) {
    s = SkipBlanks(s);
    if (!s.empty() && s.back() == '%') s.remove_suffix(1);
    if (!s.empty() && s[0] == '+') {
        s.remove_prefix(1);
        if (!s.empty() && s[0] == '-') return std::nullopt;
    }
    if (s.empty()) return std::nullopt;
    double v = 0;
    const char* first = s.data();
    const char* last = s.data() + s.size();
    const auto res = std::from_chars(first, last, v, std::chars_format::general);
    if (res.ec != std::errc() || res.ptr != last) return std::nullopt;
    if (std::isnan(v)) return std::nullopt;  // NaN has no place in an order
    return v;
}

int MonthOf(std::string_view m) {
    static constexpr std::array<const char*, 12> kMonths = {"jan", "feb", "mar", "apr", "may", "jun",
                                                          "jul", "aug", "sep", "oct", "nov", "dec"};
    if (m.size() != 3) return 0;
    char low[3];
    for (int i = 0; i < 3; ++i) {
        const char c = m[std::size_t(i)];
        low[i] = (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
    }
    for (int i = 0; i < 12; ++i)
        if (std::memcmp(low, kMonths[std::size_t(i)], 3) == 0) return i + 1;
    return 0;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// Reads 1..maxDigits digits at s[i]; advances i.
bool ReadNumber(std::string_view s, std::size_t& i, std::size_t minDigits, std::size_t maxDigits, int& out) {
    std::size_t n = 0;
    int v = 0;
    while (i < s.size() && IsDigit(s[i]) && n < maxDigits) {
        v = v * 10 + (s[i] - '0');
        ++i;
        ++n;
    }
    if (n < minDigits) return false;
    out = v;
    return true;
}

bool ReadDate(std::string_view s, std::size_t& i, std::int64_t& days) {
    int d = 0, y = 0;
    if (!ReadNumber(s, i, 1, 2, d)) return false;
    if (i >= s.size() || s[i] != '-') return false;
    ++i;
    if (i + 3 > s.size()) return false;
    const int m = MonthOf(s.substr(i, 3));
    if (m == 0) return false;
    i += 3;
    if (i >= s.size() || s[i] != '-') return false;
    ++i;
    if (!ReadNumber(s, i, 4, 4, y)) return false;
    if (d < 1 || d > 31) return false;
    days = DaysFromCivil(y, unsigned(m), unsigned(d));
    return true;
}

bool ReadTime(std::string_view s, std::size_t& i, std::int64_t& secs) {
    int h = 0, mi = 0, se = 0;
    if (!ReadNumber(s, i, 1, 2, h)) return false;
    if (i >= s.size() || s[i] != ':') return false;
    ++i;
    if (!ReadNumber(s, i, 2, 2, mi)) return false;
    if (i >= s.size() || s[i] != ':') return false;
    ++i;
    if (!ReadNumber(s, i, 2, 2, se)) return false;
    if (h > 23 || mi > 59 || se > 59) return false;
    secs = h * 3600 + mi * 60 + se;
    return true;
}

// Seconds since 1970 of "dd-MMM-yyyy", "HH:MM:SS" or a date then a time. A
// time alone is a time of the day the automation date calendar starts on
// (30 Dec 1899), so it sorts before any date the program prints.
std::optional<std::int64_t> DateTimeValue(std::string_view s) {
    s = SkipBlanks(s);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    if (s.empty()) return std::nullopt;
    std::size_t i = 0;
    std::int64_t days = 0, secs = 0;
    if (ReadDate(s, i, days)) {
        if (i == s.size()) return days * 86400;
        while (i < s.size() && IsBlank(s[i])) ++i;
        if (!ReadTime(s, i, secs) || i != s.size()) return std::nullopt;
        return days * 86400 + secs;
    }
    i = 0;
    if (!ReadTime(s, i, secs) || i != s.size()) return std::nullopt;
    return DaysFromCivil(1899, 12, 30) * 86400 + secs;
}

template <class T> int Cmp(T a, T b) { return a < b ? -1 : (b < a ? 1 : 0); }

}  // namespace

bool CellPasses(CellReading reading, std::string_view text) {
    switch (reading) {
    case CellReading::DecimalInteger: return AllDigits(text);
    case CellReading::Hex: return HexDigits(text).has_value();
    case CellReading::Decimal: return DecimalValue(text).has_value();
    case CellReading::DateTime: return DateTimeValue(text).has_value();
    case CellReading::Text: return true;
    }
    return true;
}

int CompareCellsAs(CellReading reading, std::string_view a, std::string_view b) {
    switch (reading) {
    case CellReading::DecimalInteger:
        if (AllDigits(a) && AllDigits(b)) return CompareDigitStrings(a, b);
        break;
    case CellReading::Hex: {
        const auto x = HexDigits(a), y = HexDigits(b);
        if (x && y) return CompareDigitStrings(*x, *y);
        break;
    }
    case CellReading::Decimal: {
        const auto x = DecimalValue(a), y = DecimalValue(b);
        if (x && y) return Cmp(*x, *y);
        break;
    }
    case CellReading::DateTime: {
        const auto x = DateTimeValue(a), y = DateTimeValue(b);
        if (x && y) return Cmp(*x, *y);
        break;
    }
    case CellReading::Text:
        break;
    }
    const int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int CompareCells(std::string_view a, std::string_view b) {
    for (CellReading r : {CellReading::DecimalInteger, CellReading::Hex, CellReading::Decimal, CellReading::DateTime}) {
        if (CellPasses(r, a) && CellPasses(r, b)) return CompareCellsAs(r, a, b);
    }
    return CompareCellsAs(CellReading::Text, a, b);
}

CellReading ColumnReading(const std::vector<std::string_view>& cells) {
    for (CellReading r : {CellReading::DecimalInteger, CellReading::Hex, CellReading::Decimal, CellReading::DateTime}) {
        bool all = true, any = false;
        for (std::string_view c : cells) {
            if (c.empty()) continue;
            any = true;
            if (!CellPasses(r, c)) {
                all = false;
                break;
            }
        }
        if (all && any) return r;
    }
    return CellReading::Text;
}

int CompareColumnCells(CellReading reading, std::string_view a, std::string_view b) {
    if (a.empty() || b.empty()) return a.empty() == b.empty() ? 0 : (a.empty() ? -1 : 1);
    return CompareCellsAs(reading, a, b);
}

// ============================================================================
// Row store
// ============================================================================
namespace {
constexpr std::size_t kMaxListedRowChanges = 20000;

struct Row {
    std::vector<std::string> cells;
    std::uint64_t data = 0;
    int image = -1;
    std::int8_t checked = -1;  // -1 no box, 0, 1
    bool journaled = false;
};
}  // namespace

struct ListRowModel::Impl {
    mutable std::recursive_mutex mutex;
    std::vector<ListColumn> columns;
    std::vector<Row> rows;
    std::vector<ListColorEntry> colors;

    std::size_t published = 0;
    bool pending = false;
    bool reset = false;
    bool allChanged = false;
    std::vector<int> changed;
    std::function<void()> listener;

    bool ValidRow(int r) const { return r >= 0 && std::size_t(r) < rows.size(); }
    bool ValidCol(int c) const { return c >= 0 && std::size_t(c) < columns.size(); }

    void Touch() {
        if (!pending) {
            pending = true;
            if (listener) listener();
        }
    }
    void Reset() {
        reset = true;
        for (int r : changed)
            if (ValidRow(r)) rows[std::size_t(r)].journaled = false;
        changed.clear();
        allChanged = false;
        Touch();
    }
    void RowChanged(int r) {
        if (std::size_t(r) >= published) {
            Touch();  // not shown yet: it will be read when published
            return;
        }
        if (!reset && !allChanged && !rows[std::size_t(r)].journaled) {
            if (changed.size() >= kMaxListedRowChanges) {
                allChanged = true;
                for (int c : changed)
                    if (ValidRow(c)) rows[std::size_t(c)].journaled = false;
                changed.clear();
            } else {
                rows[std::size_t(r)].journaled = true;
                changed.push_back(r);
            }
        }
        Touch();
    }
};

ListRowModel::ListRowModel() : impl_(std::make_unique<Impl>()) {}
ListRowModel::~ListRowModel() = default;

std::unique_lock<std::recursive_mutex> ListRowModel::Lock() const { return std::unique_lock<std::recursive_mutex>(impl_->mutex); }

#define LIST_LOCK std::lock_guard<std::recursive_mutex> guard_(impl_->mutex)

int ListRowModel::InsertColumn(int index, std::string_view name, int width) {
    LIST_LOCK;
    Impl& m = *impl_;
    const int pos = std::clamp(index, 0, int(m.columns.size()));
    m.columns.insert(m.columns.begin() + pos, ListColumn{std::string(name), width});
    for (Row& r : m.rows) r.cells.insert(r.cells.begin() + pos, std::string());
    m.Reset();
    return pos;
}

bool ListRowModel::DeleteColumn(int index) {
    LIST_LOCK;
    Impl& m = *impl_;
    if (!m.ValidCol(index)) return false;
    m.columns.erase(m.columns.begin() + index);
    for (Row& r : m.rows) r.cells.erase(r.cells.begin() + index);
    m.Reset();
    return true;
}

int ListRowModel::ColumnCount() const {
    LIST_LOCK;
    return int(impl_->columns.size());
}

ListColumn ListRowModel::Column(int index) const {
    LIST_LOCK;
    return impl_->ValidCol(index) ? impl_->columns[std::size_t(index)] : ListColumn{};
}

int ListRowModel::RowCount() const {
    LIST_LOCK;
    return int(impl_->rows.size());
}

int ListRowModel::InsertRow(int pos, std::vector<std::string> cells) {
    LIST_LOCK;
    Impl& m = *impl_;
    const int at = std::clamp(pos, 0, int(m.rows.size()));
    cells.resize(m.columns.size());
    Row row;
    row.cells = std::move(cells);
    m.rows.insert(m.rows.begin() + at, std::move(row));
    // Colour entries of later rows move down with them; one at the insertion
    // index itself stays where it is.
    for (ListColorEntry& e : m.colors)
        if (e.row > at) ++e.row;
    if (std::size_t(at) < m.published) {
        ++m.published;
        m.Reset();
    } else {
        m.Touch();
    }
    return at;
}

int ListRowModel::AppendRow(std::vector<std::string> cells) {
    LIST_LOCK;
    return InsertRow(int(impl_->rows.size()), std::move(cells));
}

bool ListRowModel::RemoveRow(int row) {
    LIST_LOCK;
    Impl& m = *impl_;
    if (!m.ValidRow(row)) return false;
    if (m.rows[std::size_t(row)].journaled) {
        m.changed.erase(std::remove(m.changed.begin(), m.changed.end(), row), m.changed.end());
    }
    m.rows.erase(m.rows.begin() + row);
    m.colors.erase(std::remove_if(m.colors.begin(), m.colors.end(), [row](const ListColorEntry& e) { return e.row == row; }),
                   m.colors.end());
    for (ListColorEntry& e : m.colors)
        if (e.row > row) --e.row;
    if (std::size_t(row) < m.published) {
        --m.published;
        m.Reset();
    } else {
        m.Touch();
    }
    return true;
}

void ListRowModel::Clear() {
    LIST_LOCK;
    Impl& m = *impl_;
    m.rows.clear();
    m.colors.clear();
    m.published = 0;
    m.Reset();
}

std::string ListRowModel::Cell(int row, int column) const {
    LIST_LOCK;
    const Impl& m = *impl_;
    if (!m.ValidRow(row) || !m.ValidCol(column)) return {};
    return m.rows[std::size_t(row)].cells[std::size_t(column)];
}

bool ListRowModel::SetCell(int row, int column, std::string_view text) {
    LIST_LOCK;
    Impl& m = *impl_;
    if (!m.ValidRow(row) || !m.ValidCol(column)) return false;
    m.rows[std::size_t(row)].cells[std::size_t(column)] = std::string(text);
    m.RowChanged(row);
    return true;
}

std::vector<std::string> ListRowModel::RowCells(int row) const {
    LIST_LOCK;
    return impl_->ValidRow(row) ? impl_->rows[std::size_t(row)].cells : std::vector<std::string>{};
}

std::uint64_t ListRowModel::RowData(int row) const {
    LIST_LOCK;
    return impl_->ValidRow(row) ? impl_->rows[std::size_t(row)].data : 0;
}

void ListRowModel::SetRowData(int row, std::uint64_t data) {
    LIST_LOCK;
    if (impl_->ValidRow(row)) impl_->rows[std::size_t(row)].data = data;
}

int ListRowModel::RowImage(int row) const {
    LIST_LOCK;
    return impl_->ValidRow(row) ? impl_->rows[std::size_t(row)].image : -1;
}

void ListRowModel::SetRowImage(int row, int image) {
    LIST_LOCK;
    if (!impl_->ValidRow(row)) return;
    impl_->rows[std::size_t(row)].image = image;
    impl_->RowChanged(row);
}

std::optional<bool> ListRowModel::RowChecked(int row) const {
    LIST_LOCK;
    if (!impl_->ValidRow(row)) return std::nullopt;
    const std::int8_t c = impl_->rows[std::size_t(row)].checked;
    if (c < 0) return std::nullopt;
    return c != 0;
}

void ListRowModel::SetRowChecked(int row, std::optional<bool> checked) {
    LIST_LOCK;
    if (!impl_->ValidRow(row)) return;
    impl_->rows[std::size_t(row)].checked = checked ? std::int8_t(*checked ? 1 : 0) : std::int8_t(-1);
    impl_->RowChanged(row);
}

int ListRowModel::FindRow(int column, std::string_view text, int start) const {
    LIST_LOCK;
    const Impl& m = *impl_;
    if (!m.ValidCol(column)) return -1;
    for (std::size_t r = std::size_t(std::max(start, 0)); r < m.rows.size(); ++r)
        if (m.rows[r].cells[std::size_t(column)] == text) return int(r);
    return -1;
}

void ListRowModel::SortRows(int column, SortRule rule) {
    LIST_LOCK;
    Impl& m = *impl_;
    if (!m.ValidCol(column) || m.rows.size() < 2) return;
    const auto col = std::size_t(column);
    std::stable_sort(m.rows.begin(), m.rows.end(), [&](const Row& a, const Row& b) {
        return CompareByRule(rule, a.cells[col], b.cells[col]) < 0;
    });
    m.Reset();
}

void ListRowModel::AddRowColor(int row, std::uint32_t colorRef) {
    LIST_LOCK;
    impl_->colors.push_back(ListColorEntry{colorRef, row, 0});
    if (impl_->ValidRow(row)) impl_->RowChanged(row);
}

void ListRowModel::ClearRowColors() {
    LIST_LOCK;
    impl_->colors.clear();
    impl_->allChanged = true;
    impl_->Touch();
}

std::vector<ListColorEntry> ListRowModel::RowColors() const {
    LIST_LOCK;
    return impl_->colors;
}

std::optional<std::uint32_t> ListRowModel::RowColor(int row) const {
    LIST_LOCK;
    for (const ListColorEntry& e : impl_->colors)
        if (e.row == row) return e.color;
    return std::nullopt;
}

void ListRowModel::SetChangeListener(std::function<void()> listener) {
    LIST_LOCK;
    impl_->listener = std::move(listener);
}

ListChanges ListRowModel::TakeChanges() {
    LIST_LOCK;
    Impl& m = *impl_;
    ListChanges out;
    out.reset = m.reset;
    out.rowsBefore = m.published;
    out.rowsNow = m.rows.size();
    out.allChanged = m.allChanged;
    for (int r : m.changed) {
        if (!m.ValidRow(r)) continue;
        m.rows[std::size_t(r)].journaled = false;
        out.changedRows.push_back(r);
    }
    m.changed.clear();
    m.reset = m.allChanged = false;
    m.pending = false;
    return out;
}

int ListRowModel::PublishedRowCount() const {
    LIST_LOCK;
    return int(std::min(impl_->published, impl_->rows.size()));
}

void ListRowModel::PublishRows(int count) {
    LIST_LOCK;
    impl_->published = std::min(std::size_t(std::max(count, 0)), impl_->rows.size());
}

#undef LIST_LOCK

}  // namespace torvane
