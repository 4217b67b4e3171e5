#include "config/Configuration.h"

#include <exception>

#include "libs/General.h"
#include "tags/TagTable.h"

namespace tw {

TConfiguration::TConfiguration(TConfigurationPorts p, TConfigurationHooks h)
    : general_(p.General),
      db_(p.Db, std::move(p.Connection)),
      devices_(p.Devices),
      settings_(p.SettingsView, p.General, p.Security, p.RunKey, p.ExeFolder, {h.SetLogToFile, h.SetHideOnStartup}),
      page_(p.PageView, p.Dialogs, p.General, db_, devices_, p.SelectedGridRow),
      loader_(db_, settings_, devices_,
              {h.WriteLog, h.Stop, h.Start, h.SetCaption, h.HideMainWindow, [this] { page_.RefreshDevices(); }}) {}

void TConfiguration::LoadSettings(bool afterSave) {
    try {
        loader_.LoadSettings(afterSave);
    } catch (...) {
        page_.RefreshTagValues();
        throw;
    }
    // The grid may still show values of device objects the reload has released.
    page_.RefreshTagValues();
}

void TConfiguration::BuildTagTable() {
    if (tagTableBuilt_) return;
    tagTableBuilt_ = true;
    statusItemsPublished_ = settings_.PublishDeviceStatus();
    tw::BuildTagTable(devices_.List(), statusItemsPublished_);
}

void TConfiguration::bbnSaveClick() {
    if (!settings_.Save()) return;
    try {
        LoadSettings(true);
    } catch (const std::exception& e) {
        general_.ShowMsg(e.what(), mkError, mbOKOnly, 0);
    }
    // The address space is built once per run.
    if (tagTableBuilt_ && settings_.PublishDeviceStatus() != statusItemsPublished_)
        general_.ShowMsg(kStatusItemsAtNextStart, mkInformation, mbOKOnly, 0);
}

}  // namespace tw
