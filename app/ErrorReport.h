#pragma once

#include <QString>
#include <exception>
#include <stdexcept>
#include <utility>

class Form1;

// A run-time failure carrying the system's description of what went wrong.
class RuntimeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The text of the uniform error report.
QString ErrorReportText(const QString &description, const QString &procedure, int line);

// Runs the numbered steps of a reporting procedure. Each step runs under a guard: a failure shows
// the report with the procedure's name and the step's number, and execution goes on with the
// next step. A failing condition test counts as passed, so execution enters the condition's body.
class Steps {
public:
    Steps(Form1 &form, const char *procedure) : form_(form), procedure_(procedure) {}

    // Runs one step; returns false when it failed (and was reported).
    template <class F> bool operator()(int line, F &&step) {
        try {
            std::forward<F>(step)();
            return true;
        } catch (const std::exception &e) {
            report(line, e.what());
        } catch (...) {
            report(line, "Unknown error");
        }
        return false;
    }

    // Evaluates a condition; a failing test reports and answers true.
    template <class F> bool test(int line, F &&condition) {
        try {
            return bool(std::forward<F>(condition)());
        } catch (const std::exception &e) {
            report(line, e.what());
        } catch (...) {
            report(line, "Unknown error");
        }
        return true;
    }

private:
    void report(int line, const char *description);

    Form1 &form_;
    const char *procedure_;
};
