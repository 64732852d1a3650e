/// \file
/// Text form files: a root component, its published properties and the
/// components it owns, as text, and back.
///
///     object MainForm: TComponent
///       object Session1: TINetSession
///         AccessType = atDirect
///         Agent = 'Corvane test'#13#10'second line'
///         Flags = [flOffline, flAsync]
///         OnError = SessionError
///       end
///       object Http1: TINetHttp
///         Session = Session1
///       end
///     end
///
/// Each object is "object Name: ClassName" (or "object ClassName" for an
/// unnamed one), its properties in publishing order, the components it owns,
/// and "end". Values: strings in single quotes with '' for a quote and \#nnn
/// (decimal, or \#$hex) for any other code unit outside printable ASCII, long
/// ones split into pieces joined by "+"; integers (decimal, or $hex); True and
/// False; enumeration names; sets in brackets; component references by name
/// ("Http1", "Sub.Child" for a component owned by Sub, "OtherForm.Session1"
/// for a component of another loaded root) or nil; event handlers by the name
/// under which the root's handler table (TComponent::Handlers) holds them.
/// Names and keywords ignore ASCII case.
///
/// Reading (TReader, TextToComponent):
///   1. The whole text is parsed first; a syntax error changes nothing.
///   2. Every component read gets csLoading and csReading. The root takes the
///      file's name (an existing root is read whatever class the file names). A nested object is looked up by
///      name among its owner's components and created (through the class registry) when absent. Properties
///      are applied in file order through the components' setters.
///   3. Component references are resolved when everything else is read, so
///      they may point forward or into other loaded roots.
///   4. csReading is cleared on every component, then Loaded runs on each,
///      in the order they were read (root first), and csLoading is cleared.
///   5. The root becomes a loaded root (see AddLoadedRoot) when it has a name.
/// Any failure in steps 1 to 3 raises EReadError with the line and column
/// (1-based; columns count UTF-16 code units) and what was expected; the
/// components created by the read are deleted, the root's name restored, the
/// states cleared, and no Loaded runs. An exception from Loaded propagates
/// unchanged, after the components created by the read are deleted and the
/// states cleared. Properties already applied to components that existed
/// before the read keep their new values.
///
/// Writing (TWriter, ComponentToText): each component's stored properties
/// (see the storage rules in Framework/Properties.h) in publishing order, then
/// its owned components. Lines end with "\n"; nesting indents by two spaces.
#pragma once

#include <string_view>

#include "Framework/Classes.h"
#include "Framework/Properties.h"
#include "Framework/FrameworkExport.h"

namespace Framework {

/// A form file could not be read or written.
class CORVANE_FRAMEWORK_EXPORT EFilerError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

/// A form text is malformed or does not fit the components: the message
/// reads "Line L, column C: reason".
class CORVANE_FRAMEWORK_EXPORT EReadError : public EFilerError {
public:
    /// An error at Line and Column (1-based) for Reason.
    EReadError(const UnicodeString& reason, int line, int column);

    /// The line of the error, from 1.
    int Line() const noexcept { return FLine; }
    /// The column of the error, from 1, in UTF-16 code units.
    int Column() const noexcept { return FColumn; }
    /// The message without the position.
    const UnicodeString& Reason() const noexcept { return FReason; }

private:
    UnicodeString FReason;
    int FLine;
    int FColumn;
};

/// A component cannot be written so that it would read back: an
/// unregistered class, an unnamed referenced component, an enumeration value
/// without a name.
class CORVANE_FRAMEWORK_EXPORT EWriteError : public EFilerError {
public:
    using EFilerError::EFilerError;
};

/// Reads one form text into a root (see the header comment for the steps).
class CORVANE_FRAMEWORK_EXPORT TReader {
public:
    /// A reader of Text; nothing is parsed before ReadRootComponent.
    explicit TReader(UnicodeString text);
    ~TReader();

    /// Reads the text into Root and returns it. With a null Root, a root of
    /// the file's class is created without owner (the caller's to delete).
    TComponent* ReadRootComponent(TComponent* root);

private:
    struct TState;
    static void SetState(TComponent& c, TComponentStateItem item, bool value) noexcept {
        c.SetState(item, value);
    }
    static void CallLoaded(TComponent& c) { c.Loaded(); }
    UnicodeString FText;
};

/// Writes a root and what it owns as form text.
class CORVANE_FRAMEWORK_EXPORT TWriter {
public:
    /// The form text of Root and the components it owns.
    UnicodeString WriteRootComponent(TComponent* root);

private:
    void WriteObject(TComponent& c, TComponent& root, int depth);
    static void SetState(TComponent& c, TComponentStateItem item, bool value) noexcept {
        c.SetState(item, value);
    }
    UnicodeString FOut;
};

/// The form text of Root and the components it owns.
CORVANE_FRAMEWORK_EXPORT UnicodeString ComponentToText(TComponent* root);
/// Reads Text into Root (null: a new root of the file's class) and returns
/// the root.
CORVANE_FRAMEWORK_EXPORT TComponent* TextToComponent(const UnicodeString& text, TComponent* root);

/// Writes ComponentToText(Root) to a file in UTF-8; EStreamError when the
/// file cannot be written.
CORVANE_FRAMEWORK_EXPORT void WriteComponentFile(const UnicodeString& fileName, TComponent* root);
/// Reads a form file (UTF-8, with or without byte-order mark) into Root;
/// EStreamError when the file cannot be read, EReadError when its text does
/// not fit.
CORVANE_FRAMEWORK_EXPORT TComponent* ReadComponentFile(const UnicodeString& fileName, TComponent* root);

/// Loaded roots are the roots whose components form files may refer to as
/// "RootName.ComponentName". A root read by TextToComponent is added
/// automatically; roots built in code may be added by hand. A root leaves
/// the list when it is destroyed. Thread safe.
CORVANE_FRAMEWORK_EXPORT void AddLoadedRoot(TComponent* root);
/// Takes Root off the list of loaded roots; nothing when it is not on it.
CORVANE_FRAMEWORK_EXPORT void RemoveLoadedRoot(TComponent* root) noexcept;
/// The loaded root with the name Name (ignoring ASCII case), or null.
CORVANE_FRAMEWORK_EXPORT TComponent* FindLoadedRoot(std::u16string_view name) noexcept;

}  // namespace Framework
