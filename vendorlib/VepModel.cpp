#include "VepModel.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <functional>
#include <utility>

#include <tinyxml.h>

#include "VepFileBytes.h"
#include "VepState.h"
#include "XmlGuard.h"

namespace {

constexpr int kResponseBuffer = 32;  // every response is read into a 32-byte buffer
// <models>, <model> and <param> nest three deep; groups around the models may add a few.
// TinyXML's parser recurses once per level, so a deeper file never reaches it.
constexpr int kMostModelDepth = 16;
// A model of a hundred parameters takes some ten kilobytes.
constexpr std::size_t kMostModelFileBytes = std::size_t{4} << 20;
// A year offset: a reading's year field (at most three bytes) is added to it.
constexpr int kMostStartYear = 9999;

const std::pair<const char*, VepField VepModelParams::*> kFields[] = {
    {"ofs_year", &VepModelParams::year},
    {"ofs_month", &VepModelParams::month},
    {"ofs_day", &VepModelParams::day},
    {"ofs_hour", &VepModelParams::hour},
    {"ofs_min", &VepModelParams::minute},
    {"ofs_sec", &VepModelParams::second},
    {"ofs_unit", &VepModelParams::unit},
    {"ofs_sys", &VepModelParams::systolic},
    {"ofs_dia", &VepModelParams::diastolic},
    {"ofs_pul", &VepModelParams::pulse},
    {"ofs_num", &VepModelParams::number},
    {"ofs_cnt", &VepModelParams::count},
    {"ofs_setcnt", &VepModelParams::setCount},
    {"ofs_memo", &VepModelParams::memo},
    {"ofs_moveflg", &VepModelParams::moveFlag},
    {"ofs_fpulflg", &VepModelParams::irregularPulse},
    {"ofs_serial", &VepModelParams::serial},
    {"ofs_userkbn", &VepModelParams::userKbn},
    {"ofs_wp_spec", &VepModelParams::wpSpec},
    {"ofs_wp_weight", &VepModelParams::wpWeight},
    {"ofs_wp_height", &VepModelParams::wpHeight},
    {"ofs_wp_stride", &VepModelParams::wpStride},
    {"ofs_wd_nwalk", &VepModelParams::wdNwalk},
    {"ofs_wd_nwalks", &VepModelParams::wdNwalks},
    {"ofs_wd_twalks", &VepModelParams::wdTwalks},
    {"ofs_wd_carorie", &VepModelParams::wdCarorie},
    {"ofs_wd_distance", &VepModelParams::wdDistance},
    {"ofs_wd_fat_burn", &VepModelParams::wdFatBurn},
    {"ofs_wd_weight", &VepModelParams::wdWeight},
    {"ofs_wd_stride", &VepModelParams::wdStride},
    {"ofs_wd_day_serial", &VepModelParams::wdDaySerial},
};

const std::pair<const char*, int VepModelParams::*> kNumbers[] = {
    {"download_type", &VepModelParams::downloadType}, {"data_type", &VepModelParams::dataType},
    {"head_start", &VepModelParams::headStart},       {"data_start", &VepModelParams::dataStart},
    {"rec_length", &VepModelParams::recLength},       {"memo_type", &VepModelParams::memoType},
    {"bpkbn_flg", &VepModelParams::bpkbnFlag},        {"bpcnt_flg", &VepModelParams::bpcntFlag},
    {"start_year", &VepModelParams::startYear},       {"info_data", &VepModelParams::infoData},
    {"info_put", &VepModelParams::infoPut},           {"setup_mode", &VepModelParams::setupMode},
    {"resv_length", &VepModelParams::resvLength},     {"resv_length2", &VepModelParams::resvLength2},
    {"data_serial", &VepModelParams::dataSerial},     {"sumdata", &VepModelParams::sumData},
};

const std::pair<const char*, std::string VepModelParams::*> kTexts[] = {
    {"file_name", &VepModelParams::fileName},   {"file_name2", &VepModelParams::fileName2},
    {"file_name3", &VepModelParams::fileName3}, {"file_name4", &VepModelParams::fileName4},
    {"file_path", &VepModelParams::filePath},
};

// The model-wide numbers that size the link's reads or enter the decoding's arithmetic,
// and their plausible ranges. Every model's readings are records of some length behind
// a header: a length of 0 would decode no reading, a header before the file's start
// would be decoded as readings.
struct NumberRange {
    const char* name;
    int VepModelParams::*member;
    int least;
    int most;
};
constexpr NumberRange kRanges[] = {
    {"resv_length", &VepModelParams::resvLength, 0, kResponseBuffer},
    {"resv_length2", &VepModelParams::resvLength2, 0, kResponseBuffer},
    {"rec_length", &VepModelParams::recLength, 1, INT_MAX},
    {"data_start", &VepModelParams::dataStart, 0, INT_MAX},
    {"start_year", &VepModelParams::startYear, 0, kMostStartYear},
};

// Beyond an int, a number keeps its side, so that a range check still sees it.
int Number(const char* text) {
    if (text == nullptr) return 0;
    return static_cast<int>(std::clamp<long>(std::strtol(text, nullptr, 10), INT_MIN, INT_MAX));
}

std::string Attribute(const TiXmlElement& element, const char* name) {
    const char* value = element.Attribute(name);
    return value != nullptr ? value : "";
}

// Calls visit on every <model> element in document order until it returns false.
bool EachModel(const TiXmlNode& node, const std::function<bool(const TiXmlElement&)>& visit) {
    for (const TiXmlElement* child = node.FirstChildElement(); child != nullptr; child = child->NextSiblingElement()) {
        if (child->ValueStr() == "model") {
            if (!visit(*child)) return false;
        } else if (!EachModel(*child, visit)) {
            return false;
        }
    }
    return true;
}

// The <param> elements of one model; a model nested in it keeps its own.
void EachParam(const TiXmlElement& model, const std::function<void(const TiXmlElement&)>& visit) {
    for (const TiXmlElement* child = model.FirstChildElement(); child != nullptr; child = child->NextSiblingElement()) {
        if (child->ValueStr() == "param") {
            visit(*child);
        } else if (child->ValueStr() != "model") {
            EachParam(*child, visit);
        }
    }
}

// The serial download tests a reading's pressures and pulse as 2-byte big-endian values
// whatever the model says: other widths drop or keep readings wrongly.
void TraceSerialWidths(const VepModelParams& p, const std::string& name, VepTrace& trace) {
    if (p.connectType != 2) return;
    for (const auto& [field, key] :
         {std::pair{&p.systolic, "ofs_sys"}, {&p.diastolic, "ofs_dia"}, {&p.pulse, "ofs_pul"}}) {
        if (field->size != 2)
            trace.Line("serial model %s: %s is %d bytes wide, read as 2", name.c_str(), key, field->size);
    }
}

// Read whole within its bound, checked, then parsed from memory.
bool LoadDocument(TiXmlDocument& document, const std::string& file, VepTrace& trace) {
    std::string text;
    if (ReadVepFile(file, text, kMostModelFileBytes, trace) != 0) {
        trace.Line("model file unreadable or over %zu bytes:%s", kMostModelFileBytes, file.c_str());
        return false;
    }
    // A vendor's file may be in an encoding of its own (a comment in Shift_JIS, say), and
    // every name and value the library reads is ASCII: its bytes are read one each.
    const std::string_view body = WithoutByteOrderMark(text);
    // Refused unparsed, as the parser would fail or recurse without bound.
    if (const std::string refusal = XmlRefusal(body, {kMostModelDepth}, XmlBytes::OneEach); !refusal.empty()) {
        trace.Line("exception:%s", refusal.c_str());
        return false;
    }
    document.Parse(XmlParserText(body).c_str(), nullptr, TIXML_ENCODING_LEGACY);
    if (!document.Error()) return true;
    trace.Line("exception:%s", document.ErrorDesc());
    return false;
}

}  // namespace

const char* VepModel::FileFor(int libraryMode) { return libraryMode == 1 ? "System/npmdl.vpx" : "System/bpmdl.vpx"; }

int VepModel::ConnectionType(const std::string& connect) {
    if (connect == "USB-SERIAL") return 0;
    if (connect == "USB-STORAGE") return 1;
    if (connect == "SERIAL") return 2;
    return -1;
}

int VepModel::List(const std::string& file, int index, std::string& names, std::string& connections, VepState& state) {
    names.clear();
    connections.clear();
    TiXmlDocument document;
    if (!LoadDocument(document, file, state.trace)) return -1;
    int at = 0;
    bool found = index < 0;
    EachModel(document, [&](const TiXmlElement& model) {
        if (index < 0) {
            if (Attribute(model, "hide") == "1") return true;
            names += Attribute(model, "name") + ",";
            connections += Attribute(model, "connect") + ",";
            return true;
        }
        if (at++ != index) return true;
        names = Attribute(model, "name");
        connections = Attribute(model, "connect");
        found = true;
        return false;
    });
    return found ? 0 : -1;
}

int VepModel::Load(const std::string& file, const std::string& name, VepState& state) {
    Unload();
    TiXmlDocument document;
    if (!LoadDocument(document, file, state.trace)) return -1;
    bool found = false;
    EachModel(document, [&](const TiXmlElement& model) {
        if (Attribute(model, "name") != name) return true;
        map_["connect"].value = Attribute(model, "connect");
        EachParam(model, [this](const TiXmlElement& param) {
            map_[Attribute(param, "name")] = {Attribute(param, "value"), Number(param.Attribute("size")),
                                              Number(param.Attribute("start_bit")), Number(param.Attribute("bit_len")),
                                              Number(param.Attribute("bcd")) != 0};
        });
        found = true;
        return false;
    });
    if (!found) {
        state.trace.Line("model not found:%s", name.c_str());
        Unload();
        return -1;
    }
    name_ = name;
    BuildParams();
    if (!NumbersFit(state)) {
        Unload();
        return -1;
    }
    TraceSerialWidths(params_, name, state.trace);
    const std::string& connect = map_["connect"].value;
    if (params_.connectType >= 0) state.connectMode = params_.connectType;
    state.trace.Line("SetConnect(%d):%s -> %s", params_.connectType, name.c_str(), connect.c_str());
    loaded_ = true;
    return 0;
}

void VepModel::Unload() {
    loaded_ = false;
    name_.clear();
    map_.clear();
    params_ = VepModelParams{};
    userSelector_ = 0;
}

std::string VepModel::DeviceParam(const std::string& name) const {
    const auto it = map_.find(name);
    return it != map_.end() ? it->second.value : "";
}

int VepModel::DeviceHex(const std::string& name) const {
    return static_cast<int>(std::strtol(DeviceParam(name).c_str(), nullptr, 16));
}

void VepModel::BuildParams() {
    params_ = VepModelParams{};
    for (const auto& [name, member] : kFields) params_.*member = FieldOf(name);
    for (const auto& [name, member] : kNumbers) params_.*member = NumberOf(name);
    for (const auto& [name, member] : kTexts) params_.*member = DeviceParam(name);
    params_.wdTmNwalk = HourlyOffsetsOf("ofs_wd_tm_nwalk");
    params_.wdTmNwalks = HourlyOffsetsOf("ofs_wd_tm_nwalks");
    params_.connectType = ConnectionType(DeviceParam("connect"));
}

VepField VepModel::FieldOf(const std::string& name) const {
    const auto it = map_.find(name);
    if (it == map_.end()) return {};
    const Param& p = it->second;
    return {Number(p.value.c_str()), p.size, p.startBit, p.bitLength, p.bcd};
}

int VepModel::NumberOf(const std::string& name) const { return Number(DeviceParam(name).c_str()); }

// "12, 14,16": commas separate, blanks around the numbers are allowed.
std::vector<int> VepModel::HourlyOffsetsOf(const std::string& name) const {
    std::vector<int> offsets;
    const std::string list = DeviceParam(name);
    std::size_t at = 0;
    while (at < list.size() && offsets.size() < kVepHours) {
        const std::size_t comma = std::min(list.find(',', at), list.size());
        const std::string entry = list.substr(at, comma - at);
        if (entry.find_first_not_of(" \t") != std::string::npos) offsets.push_back(Number(entry.c_str()));
        at = comma + 1;
    }
    return offsets;
}

// Responses are read into 32-byte buffers and a record is cut from one response (from
// a quarter of one for the walking device's four-part records): a model whose lengths
// do not fit would have the link read or copy past them. A year offset past any
// calendar would overflow the readings' dates.
bool VepModel::NumbersFit(VepState& state) const {
    const VepModelParams& p = params_;
    for (const auto& [key, member, least, most] : kRanges) {
        if (p.*member < least || p.*member > most) {
            state.trace.Line("model number refused:%s %s %d", name_.c_str(), key, p.*member);
            return false;
        }
    }
    const int recordPart = p.downloadType == 2 ? p.recLength / 4 : p.recLength;
    const bool fromResponses = p.connectType == 0 || p.connectType == 2;
    if (fromResponses && recordPart > p.resvLength) {
        state.trace.Line("model lengths refused:%s resv_length %d rec_length %d", name_.c_str(), p.resvLength,
                         p.recLength);
        return false;
    }
    return true;
}
