// The script engine: one engine and one context, the engine's math, vector and string API, and
// every function and property that static records put on the two registration lists.
#pragma once

#include "GameSys.h"

class asIScriptEngine;
class asIScriptContext;
struct asSMessageInfo;

extern asIScriptEngine* GScrEngine;   // null before ScriptInit and after ScriptShutdown
extern asIScriptContext* GScrContext; // likewise

struct SScriptFunction;
struct SScriptProperty;

// Push a record. After ScriptInit the record can no longer reach the engine: that is reported
// (assertion "GScrEngine") and the record is still pushed.
void ScriptRegisterFunction(SScriptFunction& record);
void ScriptRegisterProperty(SScriptProperty& record);

// A global script function: its script declaration and the native function (C calling
// convention) it binds to. Static records register themselves before the program entry.
struct SScriptFunction
{
    const char* name;
    void (*fp)();
    SScriptFunction* next;

    template <class F>
    SScriptFunction(const char* declaration, F* function)
        : name(declaration), fp(reinterpret_cast<void (*)()>(function)), next(nullptr)
    {
        ScriptRegisterFunction(*this);
    }
};

// A global script property: its script declaration and the variable it names.
struct SScriptProperty
{
    const char* name;
    void* fp;
    SScriptProperty* next;

    SScriptProperty(const char* declaration, void* variable) : name(declaration), fp(variable), next(nullptr)
    {
        ScriptRegisterProperty(*this);
    }
};

// The lists, head first: a record is pushed at the head, so they hold the records in the
// reverse of their initialisation order.
extern SScriptFunction* GScrFunctions;
extern SScriptProperty* GScrProperties;

// Creates the engine and the context and registers the whole API; every failure is fatal.
void ScriptInit();
void ScriptShutdown();

// The compiler's messages go to the log: "section (row, column) : [ERR]  : message".
void ScriptMessageCallback(const asSMessageInfo* msg, void* param);
