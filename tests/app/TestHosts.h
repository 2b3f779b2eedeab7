#pragma once
// Hosts that wrap another one to bend a single behaviour.
#include <cerrno>
#include <memory>
#include <string>

#include "HidHost.h"
#ifdef TESSALY_HAVE_HIDAPI
#include "HidrawSupport.h"
#endif

class ForwardingHost : public HidHost {
public:
    explicit ForwardingHost(HidHost& inner) : Inner(inner) {}
    HidInterfaceList ListInterfaces() override { return Inner.ListInterfaces(); }
    bool ReadIds(const std::string& path, HidAttributes& out) override { return Inner.ReadIds(path, out); }
    std::unique_ptr<HidHandle> Open(const std::string& path) override { return Inner.Open(path); }
    std::string LastErrorText() override { return Inner.LastErrorText(); }
    void ShowMessage(const std::string& text, const std::string& caption) override { Inner.ShowMessage(text, caption); }
    void Trace(const std::string& line) override { Inner.Trace(line); }
    uint32_t Ticks() override { return Inner.Ticks(); }
    void Pause(uint32_t ms) override { Inner.Pause(ms); }

protected:
    HidHost& Inner;
};

// Lists the unit but refuses to open it, as the system does without the udev rule.
class DenyingHost : public ForwardingHost {
public:
    using ForwardingHost::ForwardingHost;
    std::unique_ptr<HidHandle> Open(const std::string& path) override
    {
#ifdef TESSALY_HAVE_HIDAPI
        Error = OpenFailureText(path, EACCES, "");
#else
        Error = "Permission denied opening " + path + ": install the udev rule 60-tessaly.rules";
#endif
        return nullptr;
    }
    std::string LastErrorText() override { return Error; }

private:
    std::string Error;
};
