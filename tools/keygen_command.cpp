// tools/keygen_command.cpp - `zera keygen NAME`: a CURVE key pair for an end
// of a link, written to NAME.key and NAME.pub (the format is the link
// library's, src/link/link_keys.h).
#include <cstdio>

#include "command.h"
#include "json.h"
#include "link_keys.h"

namespace tool {

namespace {

struct KeygenOptions : CommonOptions {
    std::string name;  // writes NAME.key and NAME.pub
};

bool ParseKeygen(const CommandLine &line, KeygenOptions *out) {
    if (line.words.size() != 1 || line.words[0].empty()) return line.Bad("name exactly one key pair");
    out->name = line.words[0];
    return true;
}

}  // namespace

int CommandKeygen(const CommandLine &line) {
    return RunParsed<KeygenOptions>(line, ParseKeygen, [](const KeygenOptions &options) {
        zlink::KeyPair pair;
        std::string error;
        if (!zlink::WriteKeyPair(options.name, &pair, &error)) {
            std::fprintf(stderr, "zera keygen: %s\n", error.c_str());
            return kExitFailed;
        }
        if (options.json) {
            JsonWriter json(stdout);
            json.BeginObject();
            json.Field("key_file", options.name + ".key");
            json.Field("public_file", options.name + ".pub");
            json.Field("public_key", pair.publicKey);
            json.EndObject();
            json.End();
        } else {
            std::printf("wrote %s.key (the key pair: keep it secret) and %s.pub\npublic key: %s\n",
                        options.name.c_str(), options.name.c_str(), pair.publicKey.c_str());
        }
        return kExitOk;
    });
}

}  // namespace tool
