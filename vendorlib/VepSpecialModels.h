// Models that the protocol treats apart from the others, recognised by the device name
// the model file gives as "model_id". No supported model needs it so far: the table is
// where one would be named, so the rule lives in one place.
#pragma once

#include <array>
#include <string>

struct VepSpecialModel {
    const char* modelId;
    bool shortHandshake;      // a 12-byte handshake block with up to 6 attempts
    const char* replacement;  // a model whose parameters replace this one's after an open; null: none
};

inline constexpr std::array<VepSpecialModel, 0> kVepSpecialModels{};

inline const VepSpecialModel* FindSpecialModel(const std::string& modelId) {
    for (const auto& special : kVepSpecialModels) {
        if (!modelId.empty() && modelId == special.modelId) return &special;
    }
    return nullptr;
}
