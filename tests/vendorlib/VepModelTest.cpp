// The model file: the list of models, loading one model's parameters, and the models
// the loader refuses.
#include "VepFixture.h"

namespace {

class VepModelTest : public VepFixture {};

TEST_F(VepModelTest, TheListLeavesHiddenModelsOutButCountsThemByIndex) {
    WriteModels(ModelXml("A", {}, "USB-SERIAL") + ModelXml("B", {}, "SERIAL", "1") + "<group>" +
                ModelXml("C", {}, "USB-STORAGE") + "</group>");
    std::string names = "stale";
    std::string connections = "stale";
    EXPECT_EQ(VepModel::List(kModelFile, -1, names, connections, state_), 0);
    EXPECT_EQ(names, "A,C,");
    EXPECT_EQ(connections, "USB-SERIAL,USB-STORAGE,");
    EXPECT_EQ(VepModel::List(kModelFile, 1, names, connections, state_), 0);
    EXPECT_EQ(names, "B");
    EXPECT_EQ(connections, "SERIAL");
    EXPECT_EQ(VepModel::List(kModelFile, 3, names, connections, state_), -1);
    EXPECT_EQ(VepModel::List("System/none.vpx", -1, names, connections, state_), -1);
    EXPECT_EQ(names, "");
}

TEST_F(VepModelTest, AnUnknownNameOrAMalformedFileLoadsNothing) {
    LoadSimModel();
    EXPECT_EQ(model_.Load(kModelFile, "OTHER", state_), -1);
    EXPECT_FALSE(model_.Loaded());
    EXPECT_EQ(model_.DeviceParam("model_id"), "");

    LoadSimModel();
    std::ofstream(kModelFile) << "<models><model name=\"SIMBP3\"><param name=\"model_id\" value=\"X\"/>";
    EXPECT_EQ(model_.Load(kModelFile, "SIMBP3", state_), -1);
    EXPECT_EQ(model_.DeviceParam("model_id"), "");
    EXPECT_NE(Trace().find("exception:"), std::string::npos);
}

TEST_F(VepModelTest, AFileNestedOrSizedBeyondAnyModelFileIsRefusedBeforeItIsParsed) {
    const std::string model = ModelXml("SIMBP3", SimModel());
    // Plainly, then behind a name starting with byte 0x7F, then behind a lead byte that
    // swallows its value's closing quote.
    std::string deep, deep7F;
    for (int i = 0; i < 60000; ++i) deep += "<a>", deep7F += "<\x7F>";
    for (int i = 0; i < 60000; ++i) deep += "</a>", deep7F += "</\x7F>";
    for (const std::string& text : {model + deep, model + deep7F, model + "<m x=\"\xF0\" y><q z=\">" + deep}) {
        WriteModels(text);
        std::string names, connections;
        EXPECT_EQ(VepModel::List(kModelFile, -1, names, connections, state_), -1);
        EXPECT_EQ(model_.Load(kModelFile, "SIMBP3", state_), -1);
    }
    EXPECT_NE(Trace().find("exception:nested deeper than 16 at line "), std::string::npos);
    EXPECT_NE(Trace().find("exception:not well-formed (invalid token)"), std::string::npos);

    WriteModels(model + "<!--" + std::string(std::size_t{5} << 20, ' ') + "-->");
    EXPECT_EQ(model_.Load(kModelFile, "SIMBP3", state_), -1);
    EXPECT_FALSE(model_.Loaded());
    EXPECT_NE(Trace().find("model file unreadable or over"), std::string::npos);
}

// A vendor's file may declare an encoding of its own and carry its characters (here
// Shift_JIS, which is no UTF-8), or begin with a UTF-8 byte-order mark: its models load.
TEST_F(VepModelTest, AFileInAnEncodingOfItsOwnLoads) {
    const std::string model = ModelXml("SIMBP3", SimModel());
    for (const std::string& file :
         {"<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\n<!-- \x8C\x8C\x88\xB3\x8C\x76 -->\n" + ModelFile(model),
          "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + ModelFile(model)}) {
        std::ofstream(kModelFile) << file;
        EXPECT_EQ(model_.Load(kModelFile, "SIMBP3", state_), 0) << Trace();
        EXPECT_EQ(model_.DeviceParam("model_id"), SimModel().at("model_id"));
    }
}

TEST_F(VepModelTest, ParametersReachTheDecodingRecordAndMissingOnesReadAsNone) {
    ModelParams params = SimModel();
    params["ofs_sys"] = "9:2:4:8:1";
    params["ofs_wd_tm_nwalk"] = " 12, 14,,16 ";
    std::string many;
    for (int i = 0; i < 30; ++i) many += std::to_string(i) + ",";
    params["ofs_wd_tm_nwalks"] = many;
    params["hid_vender_id"] = "0c45";
    WriteModels(ModelXml("OTHER", {{"ofs_dia", "1:1"}, {"memo_type", "2"}}) + ModelXml("SIMBP3", params));
    ASSERT_EQ(model_.Load(kModelFile, "SIMBP3", state_), 0);

    const VepModelParams& p = model_.Params();
    EXPECT_EQ(p.systolic.offset, 9);
    EXPECT_EQ(p.systolic.size, 2);
    EXPECT_EQ(p.systolic.startBit, 4);
    EXPECT_EQ(p.systolic.bitLength, 8);
    EXPECT_TRUE(p.systolic.bcd);
    EXPECT_EQ(p.diastolic.offset, 11);  // the other model's field stays its own
    EXPECT_EQ(p.memoType, 0);
    EXPECT_FALSE(p.unit.Present());
    EXPECT_EQ(p.headStart, 0);
    EXPECT_EQ(p.fileName3, "");
    EXPECT_EQ(p.downloadType, 3);
    EXPECT_EQ(p.fileName, "down.dat");
    EXPECT_EQ(p.wdTmNwalk, (std::vector<int>{12, 14, 16}));
    EXPECT_EQ(p.wdTmNwalks.size(), kVepHours);
    EXPECT_EQ(model_.DeviceHex("hid_vender_id"), 0x0C45);
    EXPECT_EQ(model_.DeviceParam("model_id"), "SIMBP3");
    EXPECT_EQ(model_.DeviceParam("nothing"), "");
}

TEST_F(VepModelTest, OnlyTheExactConnectionNamesSetTheConnectionMode) {
    const ModelParams records{{"rec_length", "16"}, {"resv_length", "17"}};
    WriteModels(ModelXml("U", records, "USB-SERIAL") + ModelXml("M", records, "USB-STORAGE") +
                ModelXml("S", records, "SERIAL") + ModelXml("L", records, "usb-serial"));
    for (const auto& [name, type] : std::vector<std::pair<std::string, int>>{{"M", 1}, {"S", 2}, {"U", 0}}) {
        ASSERT_EQ(model_.Load(kModelFile, name, state_), 0);
        EXPECT_EQ(model_.Params().connectType, type);
        EXPECT_EQ(state_.connectMode, type);
    }
    state_.connectMode = 2;
    ASSERT_EQ(model_.Load(kModelFile, "L", state_), 0);
    EXPECT_EQ(model_.Params().connectType, -1);
    EXPECT_EQ(state_.connectMode, 2);
    EXPECT_NE(Trace().find("SetConnect(-1):L -> usb-serial"), std::string::npos);
}

TEST_F(VepModelTest, LengthsBeyondTheResponseBufferAndYearsPastAnyCalendarAreRefused) {
    const auto loads = [&](const ModelParams& changes) {
        ModelParams params = SimModel();
        for (const auto& [key, value] : changes) params[key] = value;
        WriteModels(ModelXml("SIMBP3", params));
        return model_.Load(kModelFile, "SIMBP3", state_);
    };
    EXPECT_EQ(loads({{"resv_length", "32"}, {"rec_length", "32"}}), 0);
    EXPECT_EQ(loads({{"resv_length", "33"}}), -1);
    EXPECT_FALSE(model_.Loaded());
    EXPECT_EQ(loads({{"resv_length2", "40"}}), -1);
    EXPECT_EQ(loads({{"rec_length", "18"}}), -1);
    EXPECT_EQ(loads({{"rec_length", "-4"}}), -1);
    // The walking device's records come in four parts.
    EXPECT_EQ(loads({{"download_type", "2"}, {"rec_length", "68"}}), 0);
    EXPECT_EQ(loads({{"download_type", "2"}, {"rec_length", "72"}}), -1);
    EXPECT_NE(Trace().find("model lengths refused:SIMBP3"), std::string::npos);

    EXPECT_EQ(loads({{"start_year", "0"}}), 0);
    EXPECT_EQ(loads({{"start_year", "2147483647"}}), -1);
    EXPECT_EQ(loads({{"start_year", "4294969296"}}), -1) << "2000, were it cut to an int";
    EXPECT_NE(Trace().find("model number refused:SIMBP3 start_year 2147483647"), std::string::npos);
}

}  // namespace
