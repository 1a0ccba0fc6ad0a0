<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>CommandLine</name>
    <message>
        <source>Try &apos;brimvale --help&apos;.</source>
        <translation>Siehe &apos;brimvale --help&apos;.</translation>
    </message>
    <message>
        <source>
With --output DIR/ (a trailing &quot;/&quot;) each source folder arrives inside DIR under its own name;
with --output DIR its contents are merged into DIR itself. A relative source folder is taken
from the working folder: &quot;.&quot; is the working folder itself, under its own name. The folders of
the --list files come first, in the order the files are given, then the SOURCE folders;
&quot;--list -&quot; reads the list from standard input. Names beginning with &quot;~&quot; are never copied in the
flat option.

Exit status: 0 when everything was copied (or, with --dry-run, would be), 1 when something was
not (each named on standard error), 2 for bad usage, no source folders, a source or output that
is not a folder, or a missing output folder, 130 when stopped by Ctrl-C, SIGTERM or SIGHUP
(what was copied is whole; nothing partly written is left).
</source>
        <translation>
Mit --output ORDNER/ (mit abschließendem „/“) kommt jeder Quellordner unter seinem eigenen Namen
in ORDNER; mit --output ORDNER wird sein Inhalt in ORDNER selbst zusammengeführt. Ein relativer
Quellordner wird vom Arbeitsordner aus genommen: „.“ ist der Arbeitsordner selbst, unter seinem
eigenen Namen. Die Ordner der --list-Dateien kommen zuerst, in der Reihenfolge der Dateien, dann
die QUELLE-Ordner; „--list -“ liest die Liste von der Standardeingabe. Namen, die mit „~“
beginnen, werden mit --flat nie kopiert.

Rückgabewert: 0, wenn alles kopiert wurde (oder mit --dry-run kopiert würde), 1, wenn etwas
nicht kopiert wurde (jeweils auf der Standardfehlerausgabe genannt), 2 bei falscher Verwendung,
ohne Quellordner, wenn eine Quelle oder das Ziel kein Ordner ist oder der Zielordner fehlt, 130
nach einem Stopp durch Strg+C, SIGTERM oder SIGHUP (was kopiert wurde, ist vollständig; nichts
teilweise Geschriebenes bleibt zurück).
</translation>
    </message>
    <message>
        <source>standard input</source>
        <translation>Standardeingabe</translation>
    </message>
    <message>
        <source>cannot read the list file %1: %2</source>
        <translation>die Listendatei %1 kann nicht gelesen werden: %2</translation>
    </message>
    <message>
        <source>the root folder cannot be a source folder: %1</source>
        <translation>der Wurzelordner kann kein Quellordner sein: %1</translation>
    </message>
    <message>
        <source>not a folder: %1</source>
        <translation>kein Ordner: %1</translation>
    </message>
    <message>
        <source>the output folder does not exist: %1</source>
        <translation>der Zielordner existiert nicht: %1</translation>
    </message>
    <message>
        <source>the output is not a folder: %1</source>
        <translation>das Ziel ist kein Ordner: %1</translation>
    </message>
    <message>
        <source>the output folder cannot be reached: %1: %2</source>
        <translation>der Zielordner ist nicht erreichbar: %1: %2</translation>
    </message>
    <message>
        <source>Joins the contents of several source folders into one output folder.
Without arguments Brimvale opens its window.</source>
        <translation>Führt den Inhalt mehrerer Quellordner in einem Zielordner zusammen.
Ohne Argumente öffnet Brimvale sein Fenster.</translation>
    </message>
    <message>
        <source>Displays this help.</source>
        <translation>Zeigt diese Hilfe an.</translation>
    </message>
    <message>
        <source>The output folder (it must exist); see the trailing &quot;/&quot; below.</source>
        <translation>Der Zielordner (er muss existieren); zum abschließenden „/“ siehe unten.</translation>
    </message>
    <message>
        <source>DIR</source>
        <translation>ORDNER</translation>
    </message>
    <message>
        <source>Just copy files: every file of each folder and of all folders below it goes directly into the output folder; a later file replaces an earlier one of the same name. Without it each folder is copied whole.</source>
        <translation>Nur Dateien kopieren: Jede Datei jedes Ordners und aller Ordner darunter kommt direkt in den Zielordner; eine spätere Datei ersetzt eine frühere gleichen Namens. Ohne diese Option wird jeder Ordner als Ganzes kopiert.</translation>
    </message>
    <message>
        <source>A text file that lists source folders, one per line. May be repeated.</source>
        <translation>Eine Textdatei, die Quellordner auflistet, einen pro Zeile. Kann mehrfach angegeben werden.</translation>
    </message>
    <message>
        <source>FILE</source>
        <translation>DATEI</translation>
    </message>
    <message>
        <source>Write nothing: print where each folder goes, the names that collide, the names skipped, and what the output folder&apos;s file system will refuse or take as one name, and whether it all fits.</source>
        <translation>Nichts schreiben: ausgeben, wohin jeder Ordner kommt, welche Namen kollidieren, welche Namen übersprungen werden, was das Dateisystem des Zielordners ablehnen oder als einen Namen behandeln wird und ob alles Platz hat.</translation>
    </message>
    <message>
        <source>Copy every file anew. Without it a file whose destination already has its size and modification time is left alone.</source>
        <translation>Jede Datei neu kopieren. Ohne diese Option bleibt eine Datei unberührt, deren Ziel bereits ihre Größe und Änderungszeit hat.</translation>
    </message>
    <message>
        <source>Join the source folders into the output folder.</source>
        <translation>Die Quellordner im Zielordner zusammenführen.</translation>
    </message>
    <message>
        <source>SOURCE</source>
        <translation>QUELLE</translation>
    </message>
    <message>
        <source>A source folder.</source>
        <translation>Ein Quellordner.</translation>
    </message>
    <message>
        <source>[SOURCE...]</source>
        <translation>[QUELLE...]</translation>
    </message>
    <message>
        <source>no command: the command is &apos;join&apos;.</source>
        <translation>kein Befehl: der Befehl lautet &apos;join&apos;.</translation>
    </message>
    <message>
        <source>unknown command &apos;%1&apos;.</source>
        <translation>unbekannter Befehl &apos;%1&apos;.</translation>
    </message>
    <message>
        <source>join needs the output folder: --output DIR.</source>
        <translation>join braucht den Zielordner: --output ORDNER.</translation>
    </message>
    <message>
        <source>--output is given more than once: a join has one output folder.</source>
        <translation>--output ist mehrfach angegeben: eine Zusammenführung hat einen einzigen Zielordner.</translation>
    </message>
    <message>
        <source>no source folders: name them as SOURCE or in a --list FILE.</source>
        <translation>keine Quellordner: nennen Sie sie als QUELLE oder in einer --list DATEI.</translation>
    </message>
    <message>
        <source>Dry run: nothing is written.</source>
        <translation>Probelauf: Es wird nichts geschrieben.</translation>
    </message>
    <message>
        <source>Copy option: %1</source>
        <translation>Kopieroption: %1</translation>
    </message>
    <message>
        <source>just copy files (flat)</source>
        <translation>nur Dateien kopieren (flach)</translation>
    </message>
    <message>
        <source>preserve folder structure</source>
        <translation>Ordnerstruktur beibehalten</translation>
    </message>
    <message>
        <source>Output folder: %1</source>
        <translation>Zielordner: %1</translation>
    </message>
    <message>
        <source>its file system cannot be examined: %1</source>
        <translation>sein Dateisystem kann nicht untersucht werden: %1</translation>
    </message>
    <message>
        <source>%1 (mounted as %2)</source>
        <translation>%1 (eingehängt als %2)</translation>
    </message>
    <message>
        <source>%1 on %2</source>
        <translation>%1 auf %2</translation>
    </message>
    <message>
        <source>file system: %1</source>
        <translation>Dateisystem: %1</translation>
    </message>
    <message>
        <source>names: %1, at most %2</source>
        <translation>Namen: %1, höchstens %2</translation>
    </message>
    <message>
        <source>case ignored</source>
        <translation>ohne Unterscheidung von Groß- und Kleinschreibung</translation>
    </message>
    <message>
        <source>case kept</source>
        <translation>mit Unterscheidung von Groß- und Kleinschreibung</translation>
    </message>
    <message numerus="yes">
        <source>%n character(s)</source>
        <translation>
            <numerusform>%n Zeichen</numerusform>
            <numerusform>%n Zeichen</numerusform>
        </translation>
    </message>
    <message>
        <source>: ? * &quot; &lt; &gt; | \ and control characters in names</source>
        <translation>: ? * &quot; &lt; &gt; | \ und Steuerzeichen in Namen</translation>
    </message>
    <message>
        <source>symbolic links</source>
        <translation>symbolische Verknüpfungen</translation>
    </message>
    <message>
        <source>not allowed: %1</source>
        <translation>nicht erlaubt: %1</translation>
    </message>
    <message>
        <source>%1, %2</source>
        <translation>%1, %2</translation>
    </message>
    <message>
        <source>free: %1</source>
        <translation>frei: %1</translation>
    </message>
    <message>
        <source>Entry %1 of %2: %3</source>
        <translation>Eintrag %1 von %2: %3</translation>
    </message>
    <message>
        <source>names no folder: nothing to copy</source>
        <translation>nennt keinen Ordner: nichts zu kopieren</translation>
    </message>
    <message>
        <source>goes to %1 (merged into the folder there)</source>
        <translation>kommt nach %1 (mit dem Ordner dort zusammengeführt)</translation>
    </message>
    <message>
        <source>goes to %1</source>
        <translation>kommt nach %1</translation>
    </message>
    <message numerus="yes">
        <source>%1 from %n folder(s) go directly into %2</source>
        <translation>
            <numerusform>%1 aus %n Ordner direkt nach %2</numerusform>
            <numerusform>%1 aus %n Ordnern direkt nach %2</numerusform>
        </translation>
    </message>
    <message>
        <source>refused: %1</source>
        <translation>abgelehnt: %1</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>none</source>
        <translation>keine</translation>
    </message>
    <message>
        <source>%1: %2 replaces %3</source>
        <translation>%1: %2 ersetzt %3</translation>
    </message>
    <message>
        <source>%1 replaces %2 (one name on %3)</source>
        <translation>%1 ersetzt %2 (derselbe Name auf %3)</translation>
    </message>
    <message>
        <source>Name collisions (the later file wins)</source>
        <translation>Namenskollisionen (die spätere Datei gewinnt)</translation>
    </message>
    <message>
        <source>Files a later entry replaces (the later file wins)</source>
        <translation>Dateien, die ein späterer Eintrag ersetzt (die spätere Datei gewinnt)</translation>
    </message>
    <message>
        <source>Skipped (names beginning with &quot;~&quot;)</source>
        <translation>Übersprungen (Namen, die mit „~“ beginnen)</translation>
    </message>
    <message>
        <source>Refused by %1</source>
        <translation>Von %1 abgelehnt</translation>
    </message>
    <message>
        <source>Refused</source>
        <translation>Abgelehnt</translation>
    </message>
    <message>
        <source>Different names that are one on %1</source>
        <translation>Verschiedene Namen, die auf %1 derselbe Name sind</translation>
    </message>
    <message>
        <source>Not copied</source>
        <translation>Nicht kopiert</translation>
    </message>
    <message>
        <source>A fault of the program: %1</source>
        <translation>Ein Fehler des Programms: %1</translation>
    </message>
    <message>
        <source>Already there (same size and time), left alone: %1</source>
        <translation>Bereits vorhanden (gleiche Größe und Zeit), unberührt: %1</translation>
    </message>
    <message>
        <source>Space: about %1 to write, %2 free: does not fit</source>
        <translation>Platz: etwa %1 zu schreiben, %2 frei: passt nicht</translation>
    </message>
    <message>
        <source>Space: about %1 to write, %2 free: fits</source>
        <translation>Platz: etwa %1 zu schreiben, %2 frei: passt</translation>
    </message>
    <message numerus="yes">
        <source>%n entry/entries refused</source>
        <translation>
            <numerusform>%n Eintrag abgelehnt</numerusform>
            <numerusform>%n Einträge abgelehnt</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n name(s) refused</source>
        <translation>
            <numerusform>%n Name abgelehnt</numerusform>
            <numerusform>%n Namen abgelehnt</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) not copied</source>
        <translation>
            <numerusform>%n Datei nicht kopiert</numerusform>
            <numerusform>%n Dateien nicht kopiert</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n folder(s) not copied</source>
        <translation>
            <numerusform>%n Ordner nicht kopiert</numerusform>
            <numerusform>%n Ordner nicht kopiert</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n other failure(s)</source>
        <translation>
            <numerusform>%n weiterer Fehler</numerusform>
            <numerusform>%n weitere Fehler</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n fault(s)</source>
        <translation>
            <numerusform>%n Programmfehler</numerusform>
            <numerusform>%n Programmfehler</numerusform>
        </translation>
    </message>
    <message>
        <source>not enough space</source>
        <translation>nicht genug Platz</translation>
    </message>
    <message>
        <source>The join would copy everything.</source>
        <translation>Die Zusammenführung würde alles kopieren.</translation>
    </message>
    <message>
        <source>The join would not copy everything: %1.</source>
        <translation>Die Zusammenführung würde nicht alles kopieren: %1.</translation>
    </message>
    <message>
        <source>entry %1 of %2</source>
        <translation>Eintrag %1 von %2</translation>
    </message>
    <message numerus="yes">
        <source>%n folder(s) found</source>
        <translation>
            <numerusform>%n Ordner gefunden</numerusform>
            <numerusform>%n Ordner gefunden</numerusform>
        </translation>
    </message>
    <message>
        <source>brimvale: entry %1 (%2): </source>
        <translation>brimvale: Eintrag %1 (%2): </translation>
    </message>
    <message>
        <source>%1 copied, %2 already there (same size and time) and left alone</source>
        <translation>%1 kopiert, %2 bereits vorhanden (gleiche Größe und Zeit) und unberührt gelassen</translation>
    </message>
    <message>
        <source>%1 could not be copied</source>
        <translation>%1 nicht kopiert</translation>
    </message>
    <message>
        <source>brimvale: not everything was copied: %1, named above; %2</source>
        <translation>brimvale: Nicht alles wurde kopiert: %1, oben genannt; %2</translation>
    </message>
    <message>
        <source>Done: %1.</source>
        <translation>Fertig: %1.</translation>
    </message>
    <message>
        <source>
brimvale: paused: nothing is being written; fg goes on</source>
        <translation>
brimvale: angehalten: es wird nichts geschrieben; fg setzt fort</translation>
    </message>
    <message>
        <source>brimvale: going on</source>
        <translation>brimvale: es geht weiter</translation>
    </message>
</context>
<context>
    <name>Lists</name>
    <message>
        <source>Please select folder:</source>
        <translation>Bitte wählen Sie einen Ordner:</translation>
    </message>
    <message>
        <source>File not found</source>
        <translation>Datei nicht gefunden</translation>
    </message>
    <message>
        <source>Path/File access error: %1 (not a regular file)</source>
        <translation>Pfad-/Dateizugriffsfehler: %1 (keine reguläre Datei)</translation>
    </message>
    <message>
        <source>Some lines do not name a folder now:</source>
        <translation>Einige Zeilen nennen zurzeit keinen Ordner:</translation>
    </message>
    <message>
        <source>%1, line %2: %3</source>
        <translation>%1, Zeile %2: %3</translation>
    </message>
    <message numerus="yes">
        <source>and %1 more line(s).</source>
        <translation>
            <numerusform>und %1 weitere Zeile.</numerusform>
            <numerusform>und %1 weitere Zeilen.</numerusform>
        </translation>
    </message>
    <message>
        <source>File should look like:<byte value="xd"/>/home/user/test1<byte value="xd"/>/home/user/test2<byte value="xd"/>etc.</source>
        <translation>Die Datei sollte so aussehen:<byte value="xd"/>/home/user/test1<byte value="xd"/>/home/user/test2<byte value="xd"/>usw.</translation>
    </message>
    <message>
        <source>Add File(s) - Hold Ctrl to select multiple files</source>
        <translation>Datei(en) hinzufügen – Strg gedrückt halten, um mehrere Dateien auszuwählen</translation>
    </message>
    <message>
        <source>All Files (*)</source>
        <translation>Alle Dateien (*)</translation>
    </message>
    <message>
        <source>You&apos;ve selected too many files to add.<byte value="xd"/><byte value="xd"/>Please try adding via the &quot;Add All&quot; button.</source>
        <translation>Sie haben zu viele Dateien zum Hinzufügen ausgewählt.<byte value="xd"/><byte value="xd"/>Bitte versuchen Sie es über die Schaltfläche „Alle Unterordner hinzufügen“.</translation>
    </message>
    <message>
        <source>was not added because it has bad characters in the filename.</source>
        <translation>wurde nicht hinzugefügt, weil der Dateiname ungültige Zeichen enthält.</translation>
    </message>
    <message>
        <source>The file name buffer is too small to hold the selected file names.</source>
        <translation>Der Puffer für Dateinamen ist zu klein für die ausgewählten Dateinamen.</translation>
    </message>
</context>
<context>
    <name>Start</name>
    <message>
        <source>%1, so the window cannot open.</source>
        <translation>%1, daher kann das Fenster nicht geöffnet werden.</translation>
    </message>
    <message>
        <source>brimvale join works without one: see &apos;brimvale --help&apos;.</source>
        <translation>brimvale join funktioniert auch ohne: siehe &apos;brimvale --help&apos;.</translation>
    </message>
    <message>
        <source>no display was found (neither DISPLAY nor WAYLAND_DISPLAY is set)</source>
        <translation>es wurde keine Anzeige gefunden (weder DISPLAY noch WAYLAND_DISPLAY ist gesetzt)</translation>
    </message>
    <message>
        <source>neither the display %1 nor the display %2 answers</source>
        <translation>weder die Anzeige %1 noch die Anzeige %2 antwortet</translation>
    </message>
    <message>
        <source>the display %1 does not answer</source>
        <translation>die Anzeige %1 antwortet nicht</translation>
    </message>
    <message>
        <source>Qt could not start on the display %1 (its messages are above)</source>
        <translation>Qt konnte auf der Anzeige %1 nicht starten (seine Meldungen stehen oben)</translation>
    </message>
</context>
<context>
    <name>Window</name>
    <message>
        <source>The whole list is in this file: %1</source>
        <translation>Die vollständige Liste steht in dieser Datei: %1</translation>
    </message>
    <message>
        <source>%1 copied</source>
        <translation>%1 kopiert</translation>
    </message>
    <message>
        <source>%1, %2 already there (same size and time) and left alone</source>
        <translation>%1, %2 bereits vorhanden (gleiche Größe und Zeit) und unberührt gelassen</translation>
    </message>
    <message>
        <source>Finishing writes to disk:</source>
        <translation>Abschluss der Schreibvorgänge:</translation>
    </message>
    <message>
        <source>Entry %1: %2</source>
        <translation>Eintrag %1: %2</translation>
    </message>
    <message>
        <source>Invalid picture: %1</source>
        <translation>Ungültiges Bild: %1</translation>
    </message>
    <message>
        <source>The join was stopped: %1 copied</source>
        <translation>Zusammenführen gestoppt: %1 kopiert</translation>
    </message>
    <message>
        <source>The join ended early: %1 copied</source>
        <translation>Zusammenführen vorzeitig beendet: %1 kopiert</translation>
    </message>
    <message>
        <source>%1 could not be copied</source>
        <translation>%1 nicht kopiert</translation>
    </message>
    <message>
        <source>%1 copied; not everything could be</source>
        <translation>%1 kopiert; nicht alles konnte kopiert werden</translation>
    </message>
    <message numerus="yes">
        <source>%1 copied; %n problem(s) reported</source>
        <translation>
            <numerusform>%1 kopiert; %n Problem gemeldet</numerusform>
            <numerusform>%1 kopiert; %n Probleme gemeldet</numerusform>
        </translation>
    </message>
    <message>
        <source>Please select folder:</source>
        <translation>Bitte wählen Sie einen Ordner:</translation>
    </message>
    <message>
        <source>Source Folder(s)</source>
        <translation>Quellordner</translation>
    </message>
    <message>
        <source>Index out of bounds</source>
        <translation>Index außerhalb des gültigen Bereichs</translation>
    </message>
    <message>
        <source>Questions? Please contact Team Quorvik at %1</source>
        <translation>Fragen? Bitte wenden Sie sich an das Team Quorvik unter %1</translation>
    </message>
    <message>
        <source>&amp;...</source>
        <translation>&amp;...</translation>
    </message>
    <message>
        <source>&amp;Just copy files (and do not preserve folder structure) when copying to dest folder</source>
        <translation>&amp;Nur Dateien in den Zielordner kopieren (ohne die Ordnerstruktur beizubehalten)</translation>
    </message>
    <message>
        <source>&amp;Preserve folder structure when copying to destination folder</source>
        <translation>Ordnerstruktur beim Kopieren in den Zielordner &amp;beibehalten</translation>
    </message>
    <message>
        <source>&amp;Add Folder(s)</source>
        <translation>&amp;Ordner hinzufügen</translation>
    </message>
    <message>
        <source>Add All S&amp;ubfolders In Folder</source>
        <translation>Alle &amp;Unterordner hinzufügen</translation>
    </message>
    <message>
        <source>&amp;Load List Of Folders From File</source>
        <translation>Ordnerliste aus &amp;Datei laden</translation>
    </message>
    <message>
        <source>&amp;Clear List</source>
        <translation>&amp;Liste leeren</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Hilfe</translation>
    </message>
    <message>
        <source>Load Sample/&amp;Example Folders</source>
        <translation>Beis&amp;pielordner laden</translation>
    </message>
    <message>
        <source>Double-click item to remove it. Move | line to right and out of window to reveal full names.</source>
        <translation>Doppelklicken Sie auf einen Eintrag, um ihn zu entfernen. Ziehen Sie die Linie | nach rechts aus dem Fenster, um ganze Namen zu sehen.</translation>
    </message>
    <message>
        <source>Source folders</source>
        <translation>Quellordner</translation>
    </message>
    <message>
        <source>Output folder</source>
        <translation>Zielordner</translation>
    </message>
    <message>
        <source>Browse for the output folder</source>
        <translation>Zielordner auswählen</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>Fortschritt</translation>
    </message>
    <message>
        <source>Path/File access error: %1</source>
        <translation>Pfad-/Dateizugriffsfehler: %1</translation>
    </message>
    <message>
        <source>Path/File access error: the skin file is too large: %1</source>
        <translation>Pfad-/Dateizugriffsfehler: die Skin-Datei ist zu groß: %1</translation>
    </message>
    <message>
        <source> (a change counts from the next run)</source>
        <translation> (Änderungen gelten ab dem nächsten Start)</translation>
    </message>
    <message>
        <source>Application Error</source>
        <translation>Anwendungsfehler</translation>
    </message>
    <message>
        <source>Type mismatch</source>
        <translation>Typen unverträglich</translation>
    </message>
    <message>
        <source>Path not found: the desktop folder cannot be determined</source>
        <translation>Pfad nicht gefunden: der Desktop-Ordner kann nicht ermittelt werden</translation>
    </message>
    <message>
        <source>File not found: cannot open %1</source>
        <translation>Datei nicht gefunden: %1 kann nicht geöffnet werden</translation>
    </message>
    <message>
        <source>Cannot write the settings file %1</source>
        <translation>Die Einstellungsdatei %1 kann nicht geschrieben werden</translation>
    </message>
    <message>
        <source>The settings file %1 is not readable</source>
        <translation>Die Einstellungsdatei %1 ist nicht lesbar</translation>
    </message>
    <message>
        <source>&amp;Start Joining</source>
        <translation>Zusammenführen &amp;starten</translation>
    </message>
    <message>
        <source>&amp;Stop</source>
        <translation>&amp;Stoppen</translation>
    </message>
    <message>
        <source>Save &amp;Results To This Folder</source>
        <translation>&amp;Ergebnisse in diesem Ordner speichern</translation>
    </message>
    <message>
        <source>Copy &amp;Options</source>
        <translation>&amp;Kopieroptionen</translation>
    </message>
    <message>
        <source>Stop joining? What was copied stays; nothing partly written is left.</source>
        <translation>Zusammenführen stoppen? Was kopiert wurde, bleibt erhalten; nichts teilweise Geschriebenes bleibt zurück.</translation>
    </message>
    <message>
        <source>Pause &amp;Now</source>
        <translation>P&amp;ause</translation>
    </message>
    <message>
        <source>Resu&amp;me</source>
        <translation>&amp;Fortsetzen</translation>
    </message>
</context>
<context>
    <name>Words</name>
    <message>
        <source>Permission denied</source>
        <translation>Zugriff verweigert</translation>
    </message>
    <message>
        <source>Path not found</source>
        <translation>Pfad nicht gefunden</translation>
    </message>
    <message>
        <source>Not a folder</source>
        <translation>Kein Ordner</translation>
    </message>
    <message>
        <source>Disk full</source>
        <translation>Datenträger voll</translation>
    </message>
    <message>
        <source>File already exists</source>
        <translation>Datei existiert bereits</translation>
    </message>
    <message>
        <source>Too many files</source>
        <translation>Zu viele Dateien</translation>
    </message>
    <message>
        <source>Device I/O error</source>
        <translation>Ein-/Ausgabefehler des Geräts</translation>
    </message>
    <message>
        <source>Out of memory</source>
        <translation>Nicht genügend Arbeitsspeicher</translation>
    </message>
    <message>
        <source>Path/File access error</source>
        <translation>Pfad-/Dateizugriffsfehler</translation>
    </message>
    <message>
        <source>Cannot copy a folder into itself: %1 is %2 itself</source>
        <translation>Ein Ordner kann nicht in sich selbst kopiert werden: %1 ist %2 selbst</translation>
    </message>
    <message>
        <source>Cannot copy a folder into itself: %1 holds %2</source>
        <translation>Ein Ordner kann nicht in sich selbst kopiert werden: %1 enthält %2</translation>
    </message>
    <message>
        <source>Cannot copy a folder into itself: %1 lies inside %2</source>
        <translation>Ein Ordner kann nicht in sich selbst kopiert werden: %1 liegt in %2</translation>
    </message>
    <message numerus="yes">
        <source>%n other problem(s)</source>
        <translation>
            <numerusform>%n weiteres Problem</numerusform>
            <numerusform>%n weitere Probleme</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n problem(s)</source>
        <translation>
            <numerusform>%n Problem</numerusform>
            <numerusform>%n Probleme</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n file(s)</source>
        <translation>
            <numerusform>%n Datei</numerusform>
            <numerusform>%n Dateien</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n byte(s)</source>
        <translation>
            <numerusform>%n Byte</numerusform>
            <numerusform>%n Bytes</numerusform>
        </translation>
    </message>
    <message>
        <source>about %1 s left</source>
        <translation>noch etwa %1 s</translation>
    </message>
    <message>
        <source>about %1 min left</source>
        <translation>noch etwa %1 min</translation>
    </message>
    <message>
        <source>about %1 h %2 min left</source>
        <translation>noch etwa %1 h %2 min</translation>
    </message>
    <message>
        <source>%1, %2 so far</source>
        <translation>bisher %1, %2</translation>
    </message>
    <message>
        <source>%1 of %2, %3 of %4</source>
        <translation>%1 von %2, %3 von %4</translation>
    </message>
    <message>
        <source>Entry %1 of %2</source>
        <translation>Eintrag %1 von %2</translation>
    </message>
    <message>
        <source>Entry %1 of %2: %3</source>
        <translation>Eintrag %1 von %2: %3</translation>
    </message>
    <message>
        <source>Progress Bar</source>
        <translation>Fortschrittsanzeige</translation>
    </message>
    <message>
        <source>Finishing writes to disk...</source>
        <translation>Schreibvorgänge werden abgeschlossen...</translation>
    </message>
    <message>
        <source>the file changed while it was being copied</source>
        <translation>die Datei hat sich während des Kopierens geändert</translation>
    </message>
    <message>
        <source>the name holds &quot;%1&quot;, which %2 does not allow in a name</source>
        <translation>der Name enthält „%1“, das %2 in Namen nicht erlaubt</translation>
    </message>
    <message>
        <source>the name holds a control character, which %1 does not allow in a name</source>
        <translation>der Name enthält ein Steuerzeichen, das %1 in Namen nicht erlaubt</translation>
    </message>
    <message>
        <source>the name is not UTF-8 text, which %1 cannot store</source>
        <translation>der Name ist kein UTF-8-Text; %1 kann ihn nicht speichern</translation>
    </message>
    <message>
        <source>the name is longer than the %1 bytes %2 allows in a name</source>
        <translation>der Name ist länger als die %1 Bytes, die %2 in einem Namen erlaubt</translation>
    </message>
    <message>
        <source>the name is longer than the %1 characters %2 allows in a name</source>
        <translation>der Name ist länger als die %1 Zeichen, die %2 in einem Namen erlaubt</translation>
    </message>
    <message>
        <source>the name holds a control character, which the output&apos;s file system (%1) does not take</source>
        <translation>der Name enthält ein Steuerzeichen, das das Dateisystem des Zielordners (%1) nicht annimmt</translation>
    </message>
    <message>
        <source>the name holds &quot;%1&quot;, which the output&apos;s file system (%2) does not take</source>
        <translation>der Name enthält „%1“, das das Dateisystem des Zielordners (%2) nicht annimmt</translation>
    </message>
    <message>
        <source>the output&apos;s file system does not take this name</source>
        <translation>das Dateisystem des Zielordners nimmt diesen Namen nicht an</translation>
    </message>
    <message>
        <source>its name and &quot;%1&quot; are one on %2, which keeps the later only</source>
        <translation>sein Name und „%1“ sind auf %2 derselbe Name; nur der spätere bleibt</translation>
    </message>
    <message>
        <source>a symbolic link, which %1 cannot hold</source>
        <translation>eine symbolische Verknüpfung, die %1 nicht aufnehmen kann</translation>
    </message>
    <message>
        <source>not a regular file, so it is not copied</source>
        <translation>keine reguläre Datei, daher wird sie nicht kopiert</translation>
    </message>
    <message>
        <source>a link to nothing, so it is not copied</source>
        <translation>eine Verknüpfung ins Leere, daher wird sie nicht kopiert</translation>
    </message>
    <message>
        <source>a file that is not a folder stands in the way</source>
        <translation>eine Datei, die kein Ordner ist, steht im Weg</translation>
    </message>
    <message>
        <source>its subfolders could not all be read: %1</source>
        <translation>seine Unterordner konnten nicht alle gelesen werden: %1</translation>
    </message>
    <message>
        <source>the path is longer than the system can reach</source>
        <translation>der Pfad ist länger, als das System es zulässt</translation>
    </message>
    <message>
        <source>the name holds &quot;?&quot;</source>
        <translation>der Name enthält „?“</translation>
    </message>
    <message>
        <source>the name holds a control character</source>
        <translation>der Name enthält ein Steuerzeichen</translation>
    </message>
    <message>
        <source>the name is not UTF-8 text</source>
        <translation>der Name ist kein UTF-8-Text</translation>
    </message>
    <message>
        <source>the name is %1 bytes or longer</source>
        <translation>der Name ist %1 Bytes lang oder länger</translation>
    </message>
    <message>
        <source>the link leads into %1, a file system of the system&apos;s own state</source>
        <translation>die Verknüpfung führt in %1, ein Dateisystem, das den Zustand des Systems selbst zeigt</translation>
    </message>
    <message>
        <source>the writes to disk could not be finished: %1</source>
        <translation>die Schreibvorgänge auf den Datenträger konnten nicht abgeschlossen werden: %1</translation>
    </message>
    <message>
        <source>Division by zero</source>
        <translation>Division durch null</translation>
    </message>
    <message>
        <source>Unknown error</source>
        <translation>Unbekannter Fehler</translation>
    </message>
    <message numerus="yes">
        <source>%n folder(s)</source>
        <translation>
            <numerusform>%n Ordner</numerusform>
            <numerusform>%n Ordner</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n link(s)</source>
        <translation>
            <numerusform>%n Verknüpfung</numerusform>
            <numerusform>%n Verknüpfungen</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n special file(s)</source>
        <translation>
            <numerusform>%n Spezialdatei</numerusform>
            <numerusform>%n Spezialdateien</numerusform>
        </translation>
    </message>
    <message>
        <source>%1 and %2</source>
        <translation>%1 und %2</translation>
    </message>
    <message>
        <source>%1, %2</source>
        <translation>%1, %2</translation>
    </message>
    <message>
        <source>Could not finish the writes to disk: %1</source>
        <translation>Die Schreibvorgänge auf den Datenträger konnten nicht abgeschlossen werden: %1</translation>
    </message>
    <message>
        <source>Left out %1</source>
        <translation>%1 ausgelassen</translation>
    </message>
    <message>
        <source>Could not list %1</source>
        <translation>%1 nicht auflistbar</translation>
    </message>
    <message>
        <source>Could not copy %1</source>
        <translation>%1 nicht kopiert</translation>
    </message>
    <message numerus="yes">
        <source>The disk reported %n failure(s)</source>
        <translation>
            <numerusform>Der Datenträger meldete %n Fehler</numerusform>
            <numerusform>Der Datenträger meldete %n Fehler</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1; the disk reported %n other failure(s)</source>
        <translation>
            <numerusform>%1; der Datenträger meldete %n weiteren Fehler</numerusform>
            <numerusform>%1; der Datenträger meldete %n weitere Fehler</numerusform>
        </translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>%1; the first: %2</source>
        <translation>%1; als Erstes: %2</translation>
    </message>
    <message>
        <source>, %1 could not be</source>
        <translation>, %1 nicht</translation>
    </message>
    <message>
        <source>Done.</source>
        <translation>Fertig.</translation>
    </message>
    <message>
        <source>%1 of %2</source>
        <translation>%1 von %2</translation>
    </message>
    <message numerus="yes">
        <source>%1 could not be copied</source>
        <translation>
            <numerusform>%1 konnte nicht kopiert werden</numerusform>
            <numerusform>%1 konnten nicht kopiert werden</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>the disk reported %n other failure(s)</source>
        <translation>
            <numerusform>der Datenträger meldete %n weiteren Fehler</numerusform>
            <numerusform>der Datenträger meldete %n weitere Fehler</numerusform>
        </translation>
    </message>
    <message>
        <source>Done, but %1.</source>
        <translation>Fertig, aber %1.</translation>
    </message>
    <message numerus="yes">
        <source>The join was stopped: %n file(s) was/were copied%1. What was copied stays; nothing partly written is left.</source>
        <translation>
            <numerusform>Das Zusammenführen wurde gestoppt: %n Datei wurde kopiert%1. Was kopiert wurde, bleibt erhalten; nichts teilweise Geschriebenes bleibt zurück.</numerusform>
            <numerusform>Das Zusammenführen wurde gestoppt: %n Dateien wurden kopiert%1. Was kopiert wurde, bleibt erhalten; nichts teilweise Geschriebenes bleibt zurück.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Removed %n partly written file(s) that an ended join had left in the output folder.</source>
        <translation>
            <numerusform>%n teilweise geschriebene Datei, die ein beendetes Zusammenführen im Zielordner hinterlassen hatte, wurde entfernt.</numerusform>
            <numerusform>%n teilweise geschriebene Dateien, die ein beendetes Zusammenführen im Zielordner hinterlassen hatte, wurden entfernt.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>The join ended early, after the failure reported: %n file(s) was/were copied%1. What was copied stays; nothing partly written is left.</source>
        <translation>
            <numerusform>Das Zusammenführen endete nach dem gemeldeten Fehler vorzeitig: %n Datei wurde kopiert%1. Was kopiert wurde, bleibt erhalten; nichts teilweise Geschriebenes bleibt zurück.</numerusform>
            <numerusform>Das Zusammenführen endete nach dem gemeldeten Fehler vorzeitig: %n Dateien wurden kopiert%1. Was kopiert wurde, bleibt erhalten; nichts teilweise Geschriebenes bleibt zurück.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n replaced by (a) later file(s) of the same name</source>
        <translation>
            <numerusform>%n durch eine spätere gleichnamige Datei ersetzt</numerusform>
            <numerusform>%n durch spätere gleichnamige Dateien ersetzt</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n left out (its/their name(s) begin(s) with ~)</source>
        <translation>
            <numerusform>%n ausgelassen (der Name beginnt mit ~)</numerusform>
            <numerusform>%n ausgelassen (die Namen beginnen mit ~)</numerusform>
        </translation>
    </message>
    <message>
        <source>%1; %2</source>
        <translation>%1; %2</translation>
    </message>
    <message>
        <source>No folders added.</source>
        <translation>Keine Ordner hinzugefügt.</translation>
    </message>
    <message>
        <source>Folder does not exist. Please select another folder.</source>
        <translation>Der Ordner existiert nicht. Bitte wählen Sie einen anderen Ordner.</translation>
    </message>
    <message>
        <source>%1 already exists. Please delete.</source>
        <translation>%1 existiert bereits. Bitte zuerst löschen.</translation>
    </message>
    <message>
        <source>at line %1</source>
        <translation>in Zeile %1</translation>
    </message>
    <message>
        <source>Please email screenshot of this message to %1</source>
        <translation>Bitte senden Sie ein Bildschirmfoto dieser Meldung per E-Mail an %1</translation>
    </message>
    <message>
        <source>the path is longer than the %1 bytes the far end of %2 takes</source>
        <translation>der Pfad ist länger als die %1 Bytes, die die Gegenseite von %2 annimmt</translation>
    </message>
    <message>
        <source>Paused — %1</source>
        <translation>Angehalten — %1</translation>
    </message>
    <message>
        <source>extended attributes</source>
        <translation>erweiterte Attribute</translation>
    </message>
    <message>
        <source>access lists (ACLs)</source>
        <translation>Zugriffslisten (ACLs)</translation>
    </message>
    <message>
        <source>owners</source>
        <translation>Eigentümer</translation>
    </message>
    <message numerus="yes">
        <source>%1 of %n file(s) could not be kept: the output&apos;s file system does not hold them.</source>
        <translation>
            <numerusform>%1 von %n Datei konnten nicht erhalten werden: das Dateisystem der Ausgabe kann sie nicht speichern.</numerusform>
            <numerusform>%1 von %n Dateien konnten nicht erhalten werden: das Dateisystem der Ausgabe kann sie nicht speichern.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1 of %n file(s) could not be kept: the output&apos;s file system (%2) does not hold them.</source>
        <translation>
            <numerusform>%1 von %n Datei konnten nicht erhalten werden: das Dateisystem der Ausgabe (%2) kann sie nicht speichern.</numerusform>
            <numerusform>%1 von %n Dateien konnten nicht erhalten werden: das Dateisystem der Ausgabe (%2) kann sie nicht speichern.</numerusform>
        </translation>
    </message>
</context>
</TS>
