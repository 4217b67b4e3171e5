// The device and register side of the Settings page: the device list with the selected device's
// details, the register grid of that device with the live "Tag Value" column, and New, Edit and Delete
// of devices and registers. The logic holds the list and grid as models; the view mirrors them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tw {

class IGeneral;
class ISettingDialogs;
class TConfigDatabase;
class TLoadedDevices;
class TModBusObj;
struct TRegisterFields;

enum TGridColumn { colNo, colDescription, colRegNo, colRegType, colTagName, colTagValue, kGridColumns };
using TGridRow = std::array<std::string, kGridColumns>;

struct TDeviceDetails {
    std::string Description, IpAddress, Port, UnitId;
};

class ISettingsPageView {
public:
    virtual ~ISettingsPageView() = default;
    // Refills `lbxDevices`; no entry is selected afterwards.
    virtual void SetDeviceItems(const std::vector<std::string>& items) = 0;
    virtual void SetDeviceDetails(const TDeviceDetails& details) = 0;
    // Refills `sgdList`: row 0 holds the titles; selectedRow is the remembered row (may be out of range).
    virtual void SetGridRows(const std::vector<TGridRow>& rows, int selectedRow) = 0;
    virtual void SetGridCell(int row, int column, const std::string& text) = 0;
    virtual bool SettingsPageActive() const = 0;
};

class TSettingsPage {
public:
    // selectedRow: where the remembered grid row lives (the main window resets it when shown).
    TSettingsPage(ISettingsPageView& view, ISettingDialogs& dialogs, IGeneral& general, TConfigDatabase& db,
                  const TLoadedDevices& devices, int& selectedRow);

    void SetGridTitles();
    // Both throw EDatabaseError after showing what was read; the page's own handlers show the error.
    void RefreshDevices();
    void lbxDevicesClick(int itemIndex);
    void RefreshIOPoints(int64_t deviceId);
    void sgdListSelectCell(int row) { selectedRow_ = row; }

    void btnNewDeviceClick();
    void btnEditDeviceClick();
    void btnDeleteDeviceClick();
    void bbnNewClick();
    void bbnEditClick();
    void bbnDeleteClick();

    // The "Tag Value" column from the data points (every refresh tick), and one value set by hand.
    void RefreshTagValues();
    void ShowTagValue(int tagIndex, const std::string& value);

    const std::vector<TGridRow>& Grid() const { return grid_; }
    int SelectedRow() const { return selectedRow_; }
    // The kept ID of the selected device entry; 0 when none is selected.
    int64_t SelectedDeviceId() const;
    // The device object loaded from the displayed device's row, looked up in the current device list;
    // none when that row was not loaded (disabled, added since, or the load failed before it).
    TModBusObj* DisplayedDevice() const;
    int DisplayedDeviceIndex() const;

private:
    struct TDeviceEntry {
        std::string Text;
        int64_t Id;
    };

    template <class Body>
    void Guarded(Body&& body);
    void PublishGrid() const;
    bool RegisterRowSelected() const;
    // Grid row showing this tag name; -1 when none.
    int RowOfTag(const std::string& tagName) const;
    std::string TagValueText(const TModBusObj* device, const std::string& tagName) const;
    void StoredFields(int64_t registerId, TRegisterFields& fields) const;
    void Notify(const std::string& text, int kind) const;
    void Outcome(int result, const std::string& done, const std::string& failed) const;

    ISettingsPageView& view_;
    ISettingDialogs& dialogs_;
    IGeneral& general_;
    TConfigDatabase& db_;
    const TLoadedDevices& devices_;
    int& selectedRow_;
    std::vector<TDeviceEntry> entries_;
    int selectedEntry_ = -1;
    int64_t displayedDeviceId_ = 0;
    std::vector<TGridRow> grid_;
};

}  // namespace tw
