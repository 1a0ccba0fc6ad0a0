<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>CommandLine</name>
    <message numerus="yes">
        <source>%n character(s)</source>
        <translation>
            <numerusform>%n character</numerusform>
            <numerusform>%n characters</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1 from %n folder(s) go directly into %2</source>
        <translation>
            <numerusform>%1 from %n folder go directly into %2</numerusform>
            <numerusform>%1 from %n folders go directly into %2</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n entry/entries refused</source>
        <translation>
            <numerusform>%n entry refused</numerusform>
            <numerusform>%n entries refused</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n name(s) refused</source>
        <translation>
            <numerusform>%n name refused</numerusform>
            <numerusform>%n names refused</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) not copied</source>
        <translation>
            <numerusform>%n file not copied</numerusform>
            <numerusform>%n files not copied</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n folder(s) not copied</source>
        <translation>
            <numerusform>%n folder not copied</numerusform>
            <numerusform>%n folders not copied</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n other failure(s)</source>
        <translation>
            <numerusform>%n other failure</numerusform>
            <numerusform>%n other failures</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n fault(s)</source>
        <translation>
            <numerusform>%n fault</numerusform>
            <numerusform>%n faults</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n folder(s) found</source>
        <translation>
            <numerusform>%n folder found</numerusform>
            <numerusform>%n folders found</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>Lists</name>
    <message numerus="yes">
        <source>and %1 more line(s).</source>
        <translation>
            <numerusform>and %1 more line.</numerusform>
            <numerusform>and %1 more lines.</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>Window</name>
    <message numerus="yes">
        <source>%1 copied; %n problem(s) reported</source>
        <translation>
            <numerusform>%1 copied; %n problem reported</numerusform>
            <numerusform>%1 copied; %n problems reported</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>Words</name>
    <message numerus="yes">
        <source>%n file(s)</source>
        <translation>
            <numerusform>%n file</numerusform>
            <numerusform>%n files</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n byte(s)</source>
        <translation>
            <numerusform>%n byte</numerusform>
            <numerusform>%n bytes</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n folder(s)</source>
        <translation>
            <numerusform>%n folder</numerusform>
            <numerusform>%n folders</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n link(s)</source>
        <translation>
            <numerusform>%n link</numerusform>
            <numerusform>%n links</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n special file(s)</source>
        <translation>
            <numerusform>%n special file</numerusform>
            <numerusform>%n special files</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>The disk reported %n failure(s)</source>
        <translation>
            <numerusform>The disk reported %n failure</numerusform>
            <numerusform>The disk reported %n failures</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1; the disk reported %n other failure(s)</source>
        <translation>
            <numerusform>%1; the disk reported %n other failure</numerusform>
            <numerusform>%1; the disk reported %n other failures</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>the disk reported %n other failure(s)</source>
        <translation>
            <numerusform>the disk reported %n other failure</numerusform>
            <numerusform>the disk reported %n other failures</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>The join was stopped: %n file(s) was/were copied%1. What was copied stays; nothing partly written is left.</source>
        <translation>
            <numerusform>The join was stopped: %n file was copied%1. What was copied stays; nothing partly written is left.</numerusform>
            <numerusform>The join was stopped: %n files were copied%1. What was copied stays; nothing partly written is left.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Removed %n partly written file(s) that an ended join had left in the output folder.</source>
        <translation>
            <numerusform>Removed %n partly written file that an ended join had left in the output folder.</numerusform>
            <numerusform>Removed %n partly written files that an ended join had left in the output folder.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>The join ended early, after the failure reported: %n file(s) was/were copied%1. What was copied stays; nothing partly written is left.</source>
        <translation>
            <numerusform>The join ended early, after the failure reported: %n file was copied%1. What was copied stays; nothing partly written is left.</numerusform>
            <numerusform>The join ended early, after the failure reported: %n files were copied%1. What was copied stays; nothing partly written is left.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n replaced by (a) later file(s) of the same name</source>
        <translation>
            <numerusform>%n replaced by a later file of the same name</numerusform>
            <numerusform>%n replaced by later files of the same name</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n left out (its/their name(s) begin(s) with ~)</source>
        <translation>
            <numerusform>%n left out (its name begins with ~)</numerusform>
            <numerusform>%n left out (their names begin with ~)</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n other problem(s)</source>
        <translation>
            <numerusform>%n other problem</numerusform>
            <numerusform>%n other problems</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n problem(s)</source>
        <translation>
            <numerusform>%n problem</numerusform>
            <numerusform>%n problems</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1 could not be copied</source>
        <translation>
            <numerusform>%1 could not be copied</numerusform>
            <numerusform>%1 could not be copied</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1 of %n file(s) could not be kept: the output&apos;s file system does not hold them.</source>
        <translation>
            <numerusform>%1 of %n file could not be kept: the output&apos;s file system does not hold them.</numerusform>
            <numerusform>%1 of %n files could not be kept: the output&apos;s file system does not hold them.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1 of %n file(s) could not be kept: the output&apos;s file system (%2) does not hold them.</source>
        <translation>
            <numerusform>%1 of %n file could not be kept: the output&apos;s file system (%2) does not hold them.</numerusform>
            <numerusform>%1 of %n files could not be kept: the output&apos;s file system (%2) does not hold them.</numerusform>
        </translation>
    </message>
</context>
</TS>
