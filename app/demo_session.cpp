#include "app/demo_session.h"

#include "link/byte_order.h"
#include "link/test_command_channel.h"
#include "link/tracing_transport.h"
#include "sim/demo_phone.h"

#include <array>
#include <string>
#include <vector>

namespace p2k {

namespace {

constexpr uint16_t kFileSystemOpcode = 0x4A;
constexpr uint16_t kSeemReadOpcode = 0x20;

class PrintingSink : public LogSink {
public:
    explicit PrintingSink(const std::function<void(std::string_view)>& print) : print_(print) {}
    void append(std::string_view utf8) override { print_(std::string("log: ") + std::string(utf8)); }

private:
    const std::function<void(std::string_view)>& print_;
};

std::vector<uint8_t> fileSystemRequest(uint32_t subcommand, size_t length = 4)
{
    std::vector<uint8_t> request(length, 0);
    storeBe32(request.data(), subcommand);
    return request;
}

class Session {
public:
    explicit Session(const std::function<void(std::string_view)>& print)
        : print_(print), sink_(print), log_(&sink_), phone_(sim::makeDemoPhone(systemClock())),
          channel_(link_, log_, systemClock())
    {
        link_.attach(std::make_unique<TracingTransport>(
            phone_->open(), [this](const std::string& line) { print_(line + "\n"); }));
        link_.setConnectedFlag(1);
    }

    bool run()
    {
        print_("p2kfm demo session: " + sim::describeDemoPhone() + "\n");
        const bool listed = countFiles();
        const std::u16string volume = volumeName();
        const bool spaced = freeSpace(volume);
        const bool seemRead = readProfiles();
        const bool refused = unknownOpcodeRefused();
        return listed && !volume.empty() && spaced && seemRead && refused;
    }

private:
    int send(const char* what, uint16_t opcode, const std::vector<uint8_t>& request)
    {
        print_(std::string("\n== ") + what + "\n");
        answerLength_ = 0;
        answer_.fill(0);
        return channel_.transact(opcode, request, answer_, answerLength_);
    }

    void result(int code, const std::string& detail)
    {
        print_("result " + std::to_string(code) + (detail.empty() ? "" : ": " + detail) + "\n");
    }

    bool countFiles()
    {
        const int code = send("file list count", kFileSystemOpcode, fileSystemRequest(7));
        const bool ok = code == kOk && answerLength_ >= 2;
        result(code, ok ? std::to_string(loadBe16(answer_.data())) + " files" : "");
        return ok;
    }

    std::u16string volumeName()
    {
        const int code = send("volume name", kFileSystemOpcode, fileSystemRequest(0x0A));
        std::u16string name;
        std::string shown;
        for (size_t i = 0; code == kOk && i + 1 < answerLength_; i += 2) {
            const uint16_t unit = loadBe16(&answer_[i]);
            if (unit == 0)
                break;
            name += static_cast<char16_t>(unit);
            shown += unit < 0x80 ? static_cast<char>(unit) : '?';
        }
        result(code, "\"" + shown + "\"");
        return name;
    }

    bool freeSpace(const std::u16string& volume)
    {
        std::vector<uint8_t> request = fileSystemRequest(0x0B, 512);
        for (size_t i = 0; i < volume.size() && i < 128; ++i)
            storeBe16(&request[4 + 2 * i], volume[i]);
        const int code = send("free space", kFileSystemOpcode, request);
        const bool ok = code == kOk && answerLength_ >= 4;
        result(code, ok ? std::to_string(loadBe32(answer_.data())) + " bytes free" : "");
        return ok;
    }

    bool readProfiles()
    {
        std::vector<uint8_t> header(8, 0);
        storeBe16(&header[0], 0x004C);
        storeBe16(&header[2], 1);
        const int code = send("SEEM 004c record 0001", kSeemReadOpcode, header);
        const bool ok = code == kOk && answerLength_ >= 1 && answer_[0] == 0;
        result(code, ok ? "status 00, " + std::to_string(answerLength_ - 1) + " record bytes" : "");
        return ok;
    }

    bool unknownOpcodeRefused()
    {
        const int code = send("opcode 0fff, which no phone knows", 0x0FFF, {});
        result(code, "the phone refused it, as it should");
        return code == kFailed;
    }

    const std::function<void(std::string_view)>& print_;
    PrintingSink sink_;
    OperatorLog log_;
    // The phone outlives the link, which holds a handle to it.
    std::unique_ptr<sim::SimulatedPhone> phone_;
    PhoneLink link_;
    TestCommandChannel channel_;
    std::array<uint8_t, TestCommandChannel::kMaxAnswerData> answer_{};
    uint32_t answerLength_ = 0;
};

} // namespace

int runDemoSession(const std::function<void(std::string_view)>& print)
{
    Session session(print);
    const bool ok = session.run();
    print(ok ? "\nThe demo phone answered every command as expected.\n"
             : "\nThe demo phone did not answer as expected.\n");
    return ok ? 0 : 1;
}

} // namespace p2k
