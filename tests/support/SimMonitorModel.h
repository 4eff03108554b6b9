// Model-file entries for the simulated monitor, as tests and benchmarks write them into
// "System/bpmdl.vpx": they must agree with the monitor's records.
#pragma once

#include <map>
#include <string>
#include <vector>

using ModelParams = std::map<std::string, std::string>;

// The simulated monitor as a model of the download type: its 17-byte readings keep the
// date and time at 3..8, systolic at 9..10, diastolic 11, pulse 12, the reading number
// 13, the memo 14 and the irregular-pulse bit 0 of byte 15.
inline ModelParams SimModel(int downloadType = 3) {
    return {{"model_id", "SIMBP3"},
            {"hid_vender_id", "0b1e"},
            {"hid_product_id", "5a01"},
            {"sir_speed", "9600"},
            {"download_type", std::to_string(downloadType)},
            {"resv_length", "17"},
            {"resv_length2", "17"},
            {"rec_length", "16"},
            {"data_start", "256"},
            {"start_year", "2000"},
            {"setup_mode", "0"},
            {"info_data", "1"},
            {"data_serial", "1"},
            {"file_name", "down.dat"},
            {"ofs_year", "3:1"},
            {"ofs_month", "4:1"},
            {"ofs_day", "5:1"},
            {"ofs_hour", "6:1"},
            {"ofs_min", "7:1"},
            {"ofs_sec", "8:1"},
            {"ofs_sys", "9:2"},
            {"ofs_dia", "11:1"},
            {"ofs_pul", "12:1"},
            {"ofs_num", "13:1"},
            {"ofs_memo", "14:1"},
            {"ofs_fpulflg", "15:1:0:1"}};
}

// The simulated monitor on a serial port ("SERIAL"): its readings keep the pressures
// and the pulse as 2-byte big-endian values at 9, 11 and 13, the reading number at 15.
inline ModelParams SimSerialModel() {
    ModelParams params = SimModel(1);
    params["model_id"] = "SIMSER";
    params["ofs_dia"] = "11:2";
    params["ofs_pul"] = "13:2";
    params["ofs_num"] = "15:1";
    params.erase("ofs_memo");
    params.erase("ofs_fpulflg");
    return params;
}

// A <model> element; a parameter's text is "value" or "value:size[:start_bit:bit_len[:bcd]]".
inline std::string ModelXml(const std::string& name, const ModelParams& params,
                            const std::string& connect = "USB-SERIAL", const std::string& hide = "0") {
    std::string xml = "<model name=\"" + name + "\" connect=\"" + connect + "\" hide=\"" + hide + "\">\n";
    for (const auto& [key, text] : params) {
        std::vector<std::string> parts{""};
        for (char c : text) {
            if (c == ':')
                parts.emplace_back();
            else
                parts.back().push_back(c);
        }
        parts.resize(5);
        xml += "  <param name=\"" + key + "\" value=\"" + parts[0] + "\" size=\"" + parts[1] + "\" start_bit=\"" +
               parts[2] + "\" bit_len=\"" + parts[3] + "\" bcd=\"" + parts[4] + "\"/>\n";
    }
    return xml + "</model>\n";
}

// The whole model file around the model elements.
inline std::string ModelFile(const std::string& models) { return "<models>\n" + models + "</models>\n"; }
