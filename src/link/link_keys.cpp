// link/link_keys.cpp - key files, the allow-list and its handler (see
// link_keys.h).
#include "link_keys.h"

#include <zmq.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace zlink {

namespace fs = std::filesystem;

namespace {

std::string Trim(const std::string &s) {
    const size_t first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) return std::string();
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

// Reads the `name = key` lines (and, when bare, lone keys) of a key file.
bool ReadLines(const std::string &path, bool bare, std::vector<std::pair<std::string, std::string>> *out,
               std::string *error) {
    std::ifstream in(path);
    if (!in) {
        *error = "cannot read '" + path + "'";
        return false;
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        line = Trim(line);
        // Z85 has '#' and '=' among its characters: a bare key is looked for first.
        if (bare && IsKeyText(line)) {
            out->emplace_back("public-key", line);
            continue;
        }
        if (line.empty() || line[0] == '#') continue;
        const size_t equals = line.find('=');
        const std::string name = equals == std::string::npos ? "" : Trim(line.substr(0, equals));
        const std::string key = equals == std::string::npos ? "" : Trim(line.substr(equals + 1));
        if ((name != "public-key" && name != "secret-key") || !IsKeyText(key)) {
            *error = path + ":" + std::to_string(number) + ": not a key line (public-key = <40 Z85 characters>)";
            return false;
        }
        out->emplace_back(name, key);
    }
    return true;
}

bool SetKey(void *socket, int option, const std::string &key) {
    return zmq_setsockopt(socket, option, key.c_str(), key.size()) == 0;
}

}  // namespace

bool IsKeyText(const std::string &text) {
    uint8_t key[32];
    return text.size() == kKeyText && zmq_z85_decode(key, text.c_str()) != nullptr;
}

bool WriteKeyPair(const std::string &name, KeyPair *made, std::string *error) {
    char publicKey[kKeyText + 1] = {};
    char secretKey[kKeyText + 1] = {};
    if (zmq_curve_keypair(publicKey, secretKey) != 0) {
        *error = std::string("cannot make a key pair: ") + zmq_strerror(zmq_errno());
        return false;
    }
    const std::string secretPath = name + ".key";
    const std::string publicPath = name + ".pub";
    std::error_code ec;
    for (const std::string &path : {secretPath, publicPath}) {
        if (fs::exists(path, ec)) {
            *error = "'" + path + "' exists: keygen never overwrites a key";
            return false;
        }
    }
    const std::string base = fs::path(name).filename().string();
    bool ok = false;
    {
        // Made empty and closed to others before the secret goes in.
        std::ofstream secret(secretPath);
        fs::permissions(secretPath, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace, ec);
        secret << "# zera link key pair " << base << ": keep this file secret\n"
               << "public-key = " << publicKey << "\nsecret-key = " << secretKey << "\n";
        std::ofstream pub(publicPath);
        pub << "# zera link public key " << base << "\npublic-key = " << publicKey << "\n";
        secret.flush();
        pub.flush();
        ok = !ec && secret.good() && pub.good();
    }
    if (!ok) {
        fs::remove(secretPath, ec);
        fs::remove(publicPath, ec);
        *error = "cannot write '" + secretPath + "' and '" + publicPath + "'";
        return false;
    }
    made->publicKey = publicKey;
    made->secretKey = secretKey;
    return true;
}

bool ReadKeyFile(const std::string &path, bool needSecret, KeyPair *out, std::string *error) {
    std::vector<std::pair<std::string, std::string>> lines;
    if (!ReadLines(path, false, &lines, error)) return false;
    KeyPair pair;
    for (const auto &line : lines) (line.first == "public-key" ? pair.publicKey : pair.secretKey) = line.second;
    if (pair.publicKey.empty() || (needSecret && pair.secretKey.empty())) {
        *error = "'" + path + "' holds no " + (pair.publicKey.empty() ? "public-key" : "secret-key") +
                 " line (zera keygen writes a key pair file)";
        return false;
    }
    if (!pair.secretKey.empty()) {
        char derived[kKeyText + 1] = {};
        if (zmq_curve_public(derived, pair.secretKey.c_str()) != 0 || pair.publicKey != derived) {
            *error = "'" + path + "': the public key is not the secret key's";
            return false;
        }
    }
    *out = pair;
    return true;
}

bool ReadAllowList(const std::string &path, std::set<std::string> *keys, std::string *error) {
    std::error_code ec;
    std::vector<std::string> files;
    if (fs::is_directory(path, ec)) {
        for (const fs::directory_entry &entry : fs::directory_iterator(path, ec)) {
            if (entry.path().extension() == ".pub" && entry.is_regular_file(ec)) files.push_back(entry.path().string());
        }
    } else {
        files.push_back(path);
    }
    std::set<std::string> read;
    for (const std::string &file : files) {
        std::vector<std::pair<std::string, std::string>> lines;
        if (!ReadLines(file, true, &lines, error)) return false;
        for (const auto &line : lines) {
            if (line.first != "public-key") {
                *error = "'" + file + "' holds a secret key: an allow-list holds public keys only";
                return false;
            }
            read.insert(line.second);
        }
    }
    if (read.empty()) {
        *error = "the allow-list '" + path + "' allows no key";
        return false;
    }
    *keys = read;
    return true;
}

bool IsLoopbackEndpoint(const std::string &endpoint) {
    if (endpoint.rfind("ipc://", 0) == 0 || endpoint.rfind("inproc://", 0) == 0) return true;
    if (endpoint.rfind("tcp://", 0) != 0) return false;
    const std::string rest = endpoint.substr(6);
    // A connect may name a source first: "source;destination".
    const std::string address = rest.substr(rest.find(';') == std::string::npos ? 0 : rest.find(';') + 1);
    std::string host = address.substr(0, address.rfind(':'));
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    return host.rfind("127.", 0) == 0 || host == "::1" || host == "localhost";
}

bool MakeCurveServer(void *socket, const KeyPair &server, std::string *error) {
    const int on = 1;
    if (zmq_setsockopt(socket, ZMQ_CURVE_SERVER, &on, sizeof on) != 0 ||
        !SetKey(socket, ZMQ_CURVE_SECRETKEY, server.secretKey)) {
        *error = std::string("cannot make the socket a CURVE server: ") + zmq_strerror(zmq_errno());
        return false;
    }
    return true;
}

bool MakeCurveClient(void *socket, const KeyPair &client, const std::string &serverKey, std::string *error) {
    if (!IsKeyText(serverKey)) {
        *error = "the server key '" + serverKey + "' is no key (40 Z85 characters)";
        return false;
    }
    if (!SetKey(socket, ZMQ_CURVE_SERVERKEY, serverKey) || !SetKey(socket, ZMQ_CURVE_PUBLICKEY, client.publicKey) ||
        !SetKey(socket, ZMQ_CURVE_SECRETKEY, client.secretKey)) {
        *error = std::string("cannot make the socket a CURVE client: ") + zmq_strerror(zmq_errno());
        return false;
    }
    return true;
}

bool KeyGate::Start(void *ctx, const std::set<std::string> &allowed, std::string *error) {
    allowed_ = allowed;
    socket_ = zmq_socket(ctx, ZMQ_REP);
    const int zero = 0;
    if (socket_ == nullptr || zmq_setsockopt(socket_, ZMQ_LINGER, &zero, sizeof zero) != 0 ||
        zmq_bind(socket_, "inproc://zeromq.zap.01") != 0) {
        *error = std::string("cannot start the key check: ") + zmq_strerror(zmq_errno());
        if (socket_ != nullptr) zmq_close(socket_);
        socket_ = nullptr;
        return false;
    }
    stop_ = false;
    thread_ = std::thread(&KeyGate::Run, this);
    return true;
}

void KeyGate::Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

void KeyGate::Run() {
    while (!stop_) {
        zmq_pollitem_t item = {socket_, 0, ZMQ_POLLIN, 0};
        if (zmq_poll(&item, 1, 100) <= 0) continue;
        // version, request id, domain, address, routing id, mechanism, credentials...
        std::vector<std::string> frames;
        zmq_msg_t frame;
        zmq_msg_init(&frame);
        bool more = true;
        while (more && zmq_msg_recv(&frame, socket_, 0) >= 0) {
            frames.emplace_back(static_cast<const char *>(zmq_msg_data(&frame)), zmq_msg_size(&frame));
            more = zmq_msg_more(&frame) != 0;
        }
        zmq_msg_close(&frame);
        std::string key;
        if (frames.size() >= 7 && frames[0] == "1.0" && frames[5] == "CURVE" && frames[6].size() == 32) {
            char text[kKeyText + 1] = {};
            if (zmq_z85_encode(text, reinterpret_cast<const uint8_t *>(frames[6].data()), 32) != nullptr) key = text;
        }
        const bool allowed = !key.empty() && allowed_.count(key) != 0;
        if (!allowed) ++denied_;
        const std::string requestId = frames.size() >= 2 ? frames[1] : std::string();
        const std::string reply[] = {"1.0", requestId, allowed ? "200" : "400",
                                     allowed ? "OK" : "key not on the allow-list", allowed ? key : "", ""};
        for (size_t i = 0; i < 6; ++i) {
            zmq_send(socket_, reply[i].data(), reply[i].size(), i + 1 < 6 ? ZMQ_SNDMORE : 0);
        }
    }
    zmq_close(socket_);
    socket_ = nullptr;
}

}  // namespace zlink
