#include "vxDataAccess/ResultTable.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace vxda {
namespace {

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// An aggregate column such as "MAX(ID)" answers to the function's name, "MAX", as the program reads it.
std::string AggregateHead(const std::string& column) {
    size_t paren = column.find('(');
    if (paren == std::string::npos) return {};
    size_t end = paren;
    while (end > 0 && std::isspace(static_cast<unsigned char>(column[end - 1]))) --end;
    return column.substr(0, end);
}

}  // namespace

int TResultTable::ColumnIndex(const std::string& name) const {
    for (size_t i = 0; i < columns_.size(); ++i)
        if (SameName(columns_[i], name)) return static_cast<int>(i);
    for (size_t i = 0; i < columns_.size(); ++i) {
        std::string head = AggregateHead(columns_[i]);
        if (!head.empty() && SameName(head, name)) return static_cast<int>(i);
    }
    return -1;
}

const TCell& TResultTable::Cell(const std::string& name) const {
    int index = ColumnIndex(name);
    if (index < 0) throw tw::EDatabaseError("Field '" + name + "' not found");
    if (Eof()) throw tw::EDatabaseError("No current record for field '" + name + "'");
    return rows_[pos_][index];
}

int64_t TResultTable::FieldAsInteger(const std::string& name) const {
    const TCell& cell = Cell(name);
    switch (cell.kind) {
    case TCell::Null: return 0;
    case TCell::Integer:
    case TCell::Real: return cell.integer;
    case TCell::Text: break;
    }
    // Text that holds a whole number (surrounding blanks allowed) reads as that number, empty text as
    // 0 like NULL; anything else is an error rather than a silent 0.
    if (cell.text.find_first_not_of(" \t") == std::string::npos) return 0;
    const char* begin = cell.text.c_str();
    char* end = nullptr;
    errno = 0;
    long long value = std::strtoll(begin, &end, 10);
    bool digits = end != begin && std::isdigit(static_cast<unsigned char>(end[-1]));
    while (*end != '\0' && std::isspace(static_cast<unsigned char>(*end))) ++end;
    if (!digits || *end != '\0' || errno == ERANGE || end != begin + cell.text.size())
        throw tw::EDatabaseError("'" + cell.text + "' is not a valid integer value");
    return value;
}

}  // namespace vxda
