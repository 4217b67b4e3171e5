// A query result fetched in full: the statement is finished before the caller walks the rows, so a set
// that is released part-way (or kept past DisconnectDB) never holds the database busy.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "libs/DataAccess.h"

namespace vxda {

struct TCell {
    enum Kind { Null, Integer, Real, Text };
    Kind kind = Null;
    int64_t integer = 0;  // the engine's integer reading (reals truncated)
    std::string text;     // the engine's text reading; empty for NULL
};

class TResultTable final : public tw::TRecordSet {
public:
    explicit TResultTable(std::vector<std::string> columns) : columns_(std::move(columns)) {}

    void AddRow(std::vector<TCell> row) { rows_.push_back(std::move(row)); }
    size_t RowCount() const { return rows_.size(); }

    void First() override { pos_ = 0; }
    bool Eof() const override { return pos_ >= rows_.size(); }
    void Next() override {
        if (pos_ < rows_.size()) ++pos_;
    }
    int64_t FieldAsInteger(const std::string& name) const override;
    std::string FieldAsString(const std::string& name) const override { return Cell(name).text; }

    // The current row's cell of a field; throws EDatabaseError when the set has no such field or no
    // current row.
    const TCell& Cell(const std::string& name) const;

private:
    int ColumnIndex(const std::string& name) const;

    std::vector<std::string> columns_;
    std::vector<std::vector<TCell>> rows_;
    size_t pos_ = 0;
};

}  // namespace vxda
