#!/usr/bin/perl
# Writes a help2man include file whose COMMANDS section holds every command
# that 'locator-cli --help' lists, each with its own 'locator-cli COMMAND
# --help' text, so that the manual page has every command's options and can
# never drift from them. Runs at build time on the built program.
#   man-commands.pl PROGRAM OUTPUT [EXTRA.h2m]   (EXTRA is appended as is)
use strict;
use warnings;

die "usage: $0 PROGRAM OUTPUT [EXTRA]\n" unless @ARGV == 2 || @ARGV == 3;
my ($program, $output, $extra) = @ARGV;

sub help_of {
    my @args = (@_, '--help');
    open(my $fh, '-|', $program, @args) or die "$0: cannot run $program: $!\n";
    my $text = do { local $/; <$fh> };
    close($fh) or die "$0: '$program @args' failed\n";
    die "$0: '$program @args' printed nothing\n" unless $text =~ /\S/;
    return $text;
}

# Plain text to roff: backslashes and hyphens escaped, and no line may start
# as a request (. ') or as a help2man section marker ([name] or /regex/).
sub esc {
    my ($text) = @_;
    $text =~ s/\\/\\e/g;
    $text =~ s/-/\\-/g;
    $text =~ s/^([.'\[\/])/\\&$1/;
    return $text;
}

# An option list's term: the option names bold, their arguments plain.
sub term {
    my ($text) = @_;
    return join '', map { /^-/ ? '\fB' . esc($_) . '\fR' : esc($_) } split /([\s,]+)/, $text;
}

# A term, two or more blanks, its description: "  --out DIR   the folder"
# or "import   adds data files". A lone option names an item whose text
# follows on the next lines.
my $item_re = qr/^\s*(\S+(?: \S+){0,3}?) {2,}(\S.*)$/;
my $lone_option_re = qr/^\s+(-\S.*?)\s*$/;

sub convert {
    my ($help) = @_;
    my @out;
    for my $para (split /\n\s*\n/, $help) {
        my @lines = grep { /\S/ } split /\n/, $para;
        next unless @lines;
        if ($lines[0] =~ s/^Usage: //) {
            push @out, '.nf';
            for my $line (@lines) {
                $line =~ s/^ {7}//;    # continuation lines stay under the command
                my $roff = esc($line);
                $roff =~ s/^(locator\\-cli(?: [a-z][\w\\-]*)?)/\\fB$1\\fR/;
                push @out, $roff;
            }
            push @out, '.fi';
            next;
        }
        if ($lines[0] =~ /^\S.*:$/ && @lines > 1) {    # "Options:" and its list
            push @out, '.PP', '\fB' . esc(shift @lines) . '\fR';
        }
        my $is_list = grep({ /^\s/ } @lines) || $lines[0] =~ $item_re;
        if (!$is_list) {
            push @out, '.PP', map { esc($_) } @lines;
            next;
        }
        my $in_item = 0;
        for my $line (@lines) {
            if ($line =~ $item_re) {
                push @out, '.TP', term($1), esc($2);
                $in_item = 1;
            } elsif ($line =~ $lone_option_re) {
                push @out, '.TP', term($1);
                $in_item = 1;
            } else {
                (my $text = $line) =~ s/^\s+//;
                push @out, $in_item ? () : '.PP', esc($text);
                $in_item = 1;
            }
        }
    }
    return @out;
}

my @commands;
my $in_list = 0;
for (split /\n/, help_of()) {
    if (/^Commands:\s*$/) { $in_list = 1; next; }
    last if $in_list && !/\S/;
    push @commands, $1 if $in_list && /^\s+([a-z][\w-]*)\s/;
}
die "$0: '$program --help' lists no commands\n" unless @commands;

my @page = ('[COMMANDS]', 'Each command with its options, as \fBlocator\-cli\fR \fICOMMAND\fR \fB\-\-help\fR shows them.');
for my $command (@commands) {
    push @page, '.SS ' . esc($command), convert(help_of($command));
}
if (defined $extra) {
    open(my $in, '<', $extra) or die "$0: $extra: $!\n";
    push @page, '', map { chomp; $_ } <$in>;
}
open(my $fh, '>', "$output.tmp") or die "$0: $output: $!\n";
print $fh map { "$_\n" } @page;
close($fh) or die "$0: $output: $!\n";
rename("$output.tmp", $output) or die "$0: $output: $!\n";
