<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
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
</context>
</TS>
