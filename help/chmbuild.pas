{ Compiles the help project (Trayhop32.hhp) into a .chm, as chmcmd does, with
  two differences. The context map (#IVB) names each mapped topic by its path
  inside the help file ("main_window.htm"): chmcmd 3.2 writes the absolute
  path of the project folder on the build machine in front of it, so a help
  viewer opening a context number finds no such topic in the file. And the
  file carries no time: two builds of the same sources give the same bytes.

  Usage: chmbuild PROJECT.hhp   (the .chm is written where the project says,
  relative to the current folder, like chmcmd) }
program chmbuild;

{$mode objfpc}{$H+}

uses
  {$ifdef unix}cwstring,{$endif} { the writer converts titles to UTF-16 }
  Classes, SysUtils, chmfilewriter, chmwriter;

type
  TProject = class(TChmProject)
  public
    procedure WriteChm(AOutStream: TStream); override;
  end;

{ TChmProject.WriteChm, less the binary TOC (not used by this project) and
  with the topic names of the context map left as the project lists them. }
procedure TProject.WriteChm(AOutStream: TStream);
var
  Writer: TChmWriter;
  Node: TChmContextNode;
  I: Integer;
begin
  if MakeBinaryTOC then
    raise Exception.Create('a binary table of contents is not supported');
  { The writer's binary index starts its keyword map with two bytes it never
    sets, whatever the memory held: the project asks for "Binary Index=No",
    and the viewer reads the index from the .hhk instead. }
  if MakeBinaryIndex then
    raise Exception.Create('a binary index is not supported (set "Binary Index=No")');
  LoadSiteMaps;
  if ScanHtmlContents then
    ScanHtml;

  Writer := TChmWriter.Create(AOutStream, False);
  try
    Writer.OnGetFileData := @GetData;
    Writer.OnLastFile := @LastFileAdded;
    Writer.FilesToCompress.AddStrings(Files);
    Writer.FilesToCompress.AddStrings(OtherFiles);
    Writer.DefaultPage := DefaultPage;
    Writer.Title := Title;
    Writer.DefaultFont := DefaultFont;
    Writer.FullTextSearch := MakeSearchable;
    Writer.HasBinaryTOC := MakeBinaryTOC;
    Writer.HasBinaryIndex := MakeBinaryIndex;
    Writer.IndexName := IndexFileName;
    Writer.TocName := TableOfContentsFileName;
    Writer.ReadmeMessage := ReadmeMessage;
    Writer.DefaultWindow := DefaultWindow;
    Writer.LocaleID := LocaleID;
    for I := 0 to Files.Count - 1 do
    begin
      if not FileExists(IncludeTrailingPathDelimiter(ProjectDir) + Files[I]) then
        raise Exception.Create('help source ' + Files[I] + ' is missing');
      Node := TChmContextNode(Files.Objects[I]);
      if Assigned(Node) and (Node.ContextNumber <> 0) then
        Writer.AddContext(Node.ContextNumber, Files[I]);
    end;
    if Windows.Count > 0 then
      Writer.Windows := Windows;
    if MergeFiles.Count > 0 then
      Writer.MergeFiles := MergeFiles;
    Writer.Execute;
  finally
    Writer.Free;
  end;
end;

{ The writer stamps the file with the time of day twice: in the ITSF header
  (offset $10) and in the first entry of #SYSTEM (code 10), which lies in the
  uncompressed section. Both become 0. #SYSTEM starts with its version (3)
  and that entry (code 10, 4 bytes, the time), followed by entry 9. }
procedure ClearTimeStamps(Chm: TStream);
const
  SystemStart: array[0..7] of Byte = (3, 0, 0, 0, 10, 0, 4, 0);
  Zero: DWord = 0;
var
  Bytes: array of Byte;
  I, Found: Int64;
  J: Integer;
begin
  SetLength(Bytes, Chm.Size);
  Chm.Position := 0;
  Chm.ReadBuffer(Bytes[0], Length(Bytes));
  Found := -1;
  for I := 0 to Length(Bytes) - 14 do
  begin
    J := 0;
    while (J < 8) and (Bytes[I + J] = SystemStart[J]) do
      Inc(J);
    if (J = 8) and (Bytes[I + 12] = 9) and (Bytes[I + 13] = 0) then
    begin
      if Found >= 0 then
        raise Exception.Create('the start of #SYSTEM is not unique');
      Found := I;
    end;
  end;
  if Found < 0 then
    raise Exception.Create('#SYSTEM not found');
  Chm.Position := $10;
  Chm.WriteBuffer(Zero, SizeOf(Zero));
  Chm.Position := Found + 8;
  Chm.WriteBuffer(Zero, SizeOf(Zero));
end;

var
  Project: TProject;
  Output: TFileStream;
begin
  if ParamCount <> 1 then
  begin
    WriteLn(StdErr, 'usage: chmbuild PROJECT.hhp');
    Halt(2);
  end;
  Project := TProject.Create;
  try
    try
      Project.LoadFromHhp(ParamStr(1), False);
      { chmcmd scans .hhp projects for linked files too. }
      Project.ScanHtmlContents := True;
      Output := TFileStream.Create(Project.OutputFileName, fmCreate);
      try
        Project.WriteChm(Output);
        ClearTimeStamps(Output);
      finally
        Output.Free;
      end;
    except
      on E: Exception do
      begin
        WriteLn(StdErr, 'chmbuild: ', E.Message);
        Halt(1);
      end;
    end;
  finally
    Project.Free;
  end;
end.
