#include "acquisition/ModBusObjList.h"

namespace tw {

TModBusObjList DeviceList;

TModBusObj& TModBusObjList::Add() {
    Devices.push_back(std::make_unique<TModBusObj>());
    ++Changes;
    return *Devices.back();
}

}  // namespace tw
