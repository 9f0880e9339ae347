// tools/keygen_command.cpp - `zera keygen NAME`: a CURVE key pair for an end
// of a link, written to NAME.key and NAME.pub (the format is the link
// library's, src/link/link_keys.h).
#include <cstdio>

#include "cli.h"
#include "commands.h"
#include "json.h"
#include "link_keys.h"

namespace tool {

int CommandKeygen(const std::vector<std::string> &args) {
    return RunParsed<KeygenOptions>(args, ParseKeygen, [](const KeygenOptions &options) {
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
