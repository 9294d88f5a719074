#pragma once

#include <QMetaType>

#include <memory>
#include <vector>

namespace orvinta {

// The latest spectrum, one row of dB values per channel, as one opaque value that QML passes
// from AppState to the spectrum item without converting it. Copies share the data.
class SpectrumRows {
    Q_GADGET
    Q_PROPERTY(int rowCount READ rowCount)

public:
    SpectrumRows() = default;
    explicit SpectrumRows(std::vector<std::vector<float>> rows)
        : rows_(std::make_shared<const std::vector<std::vector<float>>>(std::move(rows))) {}

    const std::vector<std::vector<float>>& rows() const {
        static const std::vector<std::vector<float>> empty;
        return rows_ ? *rows_ : empty;
    }
    int rowCount() const { return static_cast<int>(rows().size()); }

    friend bool operator==(const SpectrumRows& a, const SpectrumRows& b) {
        return a.rows_ == b.rows_ || a.rows() == b.rows();
    }

private:
    std::shared_ptr<const std::vector<std::vector<float>>> rows_;
};

}  // namespace orvinta

Q_DECLARE_METATYPE(orvinta::SpectrumRows)
